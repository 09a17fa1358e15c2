#pragma once

#include "driver/queuecommands.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

struct BatchFigures;
class NewFilesOffer;
class QueueFile;
class audioEncoderParent;
class mp3Encoder;
class videoFile;

// Which queue's files are ready.
enum class ReadyFiles { Audio, Video };

// What the run of the engine needs from a person, and what it shows them.
// The window answers with its widgets (message boxes, the new-files
// dialogs, the tray, the panels, the "Video tasks" tree and the "Audio
// encoder" tab); a client without a window answers with its own rules and
// log lines. The events carry what happened, never a formatted text: each
// front end words them itself. Every call comes on the main thread.
class FrontEnd {
public:
    // fileChanged's previousState for a file first seen in the queue taken
    // up from the last run (its state was told then).
    static constexpr int kRestored = -2;

    virtual ~FrontEnd() = default;

    // Watched folders queued these files (their sources) in one scan.
    virtual void filesQueued(const QStringList& sources) = 0;
    // Files that could not be queued, all refusals of one scan together.
    virtual void filesRefused(const QList<Refusal>& refusals) = 0;
    // Nothing of the `kind` queue runs any more: how many of its files were
    // processed, and how many failed, since it last said so.
    virtual void filesReady(ReadyFiles kind, int processed, int errors) = 0;
    // Where the new files of folders that ask first are offered; null when
    // there is no one to ask (those folders are then quick-added).
    virtual NewFilesOffer* newFilesOffer() = 0;
    // The sounds extracted from dropped videos, before they are queued:
    // each proposed with its destination beside its video and the last
    // preset used. A person may change each one or leave some out; false
    // when they decline (the videos are given up then).
    // `videos` are the videos the sounds come from, in their order.
    virtual bool chooseVideoSounds(QList<FileRequest>& sounds, const QStringList& videos) = 0;
    // A video record was added or changed.
    virtual void showVideo(const videoFile& record) = 0;
    // A finished file's MP3 job was started; it stays the driver's.
    virtual void showMp3Job(audioEncoderParent* encoder) = 0;
    // A finished file's MP3 job ended, with its MP3 or failed (not when
    // cancelled by the end of the client).
    virtual void mp3Ended(const mp3Encoder& encoder) = 0;
    // Whether the driver submits again by itself the files whose error can
    // pass (where nobody is there to do it).
    virtual bool retriesErrors() const = 0;
    // Whether the finished files stay listed (until a person clears them):
    // otherwise the driver lets go of a file once its results are final.
    virtual bool keepsFinishedFiles() const = 0;
    // The queue as the queue tick left it, in its order, once per tick.
    virtual void showQueue(const QList<QueueFile*>& files) = 0;
    // A queued file was seen in a new state (`previousState` -1: first
    // seen; kRestored: first seen, taken up from the last run).
    virtual void fileChanged(const QueueFile& file, int previousState) = 0;
    // A queued file was uploaded and became the service's job `jobId`.
    virtual void fileUploaded(const QueueFile& file, int jobId) = 0;
    // A request of a queued file's job failed for a reason that may pass
    // (`reason`); it is tried again in `seconds`.
    virtual void fileRetrying(const QueueFile& file, const QString& reason, int seconds) = 0;
    // Log-ins are held back for `seconds` (too many in a short time).
    virtual void loginPaused(int seconds) = 0;
    // The files finished (Done, Error) since the last "files ready" message;
    // a file submitted again counts by its latest outcome.
    virtual void showCounts(quint32 done, quint32 errors) = 0;
    // The batch figures changed (told at the first queue tick too); a front
    // end that tells each file on its own may leave them.
    virtual void showBatch(const BatchFigures& figures) { Q_UNUSED(figures) }
};
