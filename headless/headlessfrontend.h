#pragma once

#include "driver/frontend.h"

#include <QHash>
#include <QString>

// The front end of the client without a window: nobody is asked anything
// (folders that ask first are quick-added, dropped videos do not exist),
// and every event a person would see becomes one line on standard output:
// a file queued, uploaded, retried, done or failed with its message, a
// refused file, a video made or failed, an MP3 started, made or failed, a
// pause of the log-ins, the "files ready" messages. What the last run told
// of a file taken up from the saved queue is not told again.
class HeadlessFrontEnd : public FrontEnd {
public:
    // Each queued file has its own line already.
    void filesQueued(const QStringList&) override {}
    void filesRefused(const QList<Refusal>& refusals) override;
    void filesReady(ReadyFiles kind, int processed, int errors) override;
    NewFilesOffer* newFilesOffer() override { return nullptr; }
    bool chooseVideoSounds(QList<FileRequest>& sounds, const QStringList& videos) override;
    void showVideo(const videoFile& record) override;
    void showMp3Job(audioEncoderParent* encoder) override;
    void mp3Ended(const mp3Encoder& encoder) override;
    bool retriesErrors() const override { return true; }
    bool keepsFinishedFiles() const override { return false; }
    void showQueue(const QList<QueueFile*>&) override {}
    void fileChanged(const QueueFile& file, int previousState) override;
    void fileUploaded(const QueueFile& file, int jobId) override;
    void fileRetrying(const QueueFile& file, const QString& reason, int seconds) override;
    void loginPaused(int seconds) override;
    void showCounts(quint32, quint32) override {}

    // One event line on standard output, written at once; control
    // characters (of a file name, say) are shown as \n, \t and \xHH, so no
    // name can split a line or forge one.
    static void log(const QString& line);

private:
    // The last state logged of each video record, by id.
    QHash<int, int> m_videoStates;
};
