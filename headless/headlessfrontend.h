#pragma once

#include "driver/frontend.h"

#include <QHash>
#include <QSet>
#include <QString>

// The front end of the client without a window: nobody is asked anything
// (folders that ask first are quick-added, dropped videos do not exist),
// and every event a person would see becomes one line on standard output:
// a file queued, uploaded, done or failed with its message, a refused file,
// a video made or failed, an MP3 started, the "files ready" messages.
class HeadlessFrontEnd : public FrontEnd {
public:
    void notify(const QString& title, const QString& message) override;
    void reportRefusals(const QString& errors) override;
    NewFilesOffer* newFilesOffer() override { return nullptr; }
    bool queueVideoSounds(const QList<QUrl>& sounds, const QList<QUrl>& videos) override;
    void showVideo(const videoFile& record) override;
    void showMp3Job(audioEncoderParent* encoder) override;
    bool keepsFinishedFiles() const override { return false; }
    void showQueue(const QList<QueueFile*>&) override {}
    void fileChanged(const QueueFile& file, int previousState) override;
    void fileUploaded(const QueueFile& file, int jobId) override;
    void showCounts(quint32, quint32) override {}

    // One event line on standard output, written at once.
    static void log(const QString& line);

private:
    // The last state logged of each video record, by id.
    QHash<int, int> m_videoStates;
};
