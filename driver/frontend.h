#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class NewFilesOffer;
class QueueFile;
class audioEncoderParent;
class videoFile;

// What the run of the engine needs from a person, and what it shows them.
// The window answers with its widgets (message boxes, the new-files
// dialogs, the tray, the panels, the "Video tasks" tree and the "Audio
// encoder" tab); a client without a window answers with its own rules and
// log lines. Every call comes on the main thread.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // A tray message.
    virtual void notify(const QString& title, const QString& message) = 0;
    // Files that could not be queued ("Error adding files"): one
    // "\nFile: <source>\n- <reason>" per file.
    virtual void reportRefusals(const QString& errors) = 0;
    // Where the new files of folders that ask first are offered; null when
    // there is no one to ask (those folders are then quick-added).
    virtual NewFilesOffer* newFilesOffer() = 0;
    // Queues the extracted sounds of dropped videos as a drop of those
    // sounds would (the videos they came from name the destinations); false
    // when nothing was queued.
    virtual bool queueVideoSounds(const QList<QUrl>& sounds, const QList<QUrl>& videos) = 0;
    // A video record was added or changed.
    virtual void showVideo(const videoFile& record) = 0;
    // A finished file's MP3 job was started; it stays the driver's.
    virtual void showMp3Job(audioEncoderParent* encoder) = 0;
    // Whether the finished files stay listed (until a person clears them):
    // otherwise the driver lets go of a file once its results are final.
    virtual bool keepsFinishedFiles() const = 0;
    // The queue as the queue tick left it, in its order, once per tick.
    virtual void showQueue(const QList<QueueFile*>& files) = 0;
    // A queued file was seen in a new state (`previousState` -1: first seen).
    virtual void fileChanged(const QueueFile& file, int previousState) = 0;
    // A queued file was uploaded and became the service's job `jobId`.
    virtual void fileUploaded(const QueueFile& file, int jobId) = 0;
    // The files finished (Done, Error) since the last "files ready" message.
    virtual void showCounts(quint32 done, quint32 errors) = 0;
};
