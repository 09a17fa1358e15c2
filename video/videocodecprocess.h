#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <memory>

// One ffmpeg job, started and polled on the GUI thread: either the
// extraction of a video's sound into a 16-bit PCM WAV file (mode 1) or the
// mux of a processed sound into a copy of the video whose picture is copied
// unchanged (mode 2). A mux writes partialVideoName(output), never the
// output itself: the caller renames the complete file, so a cut-off mux
// never leaves a broken video under the name the user sees. ffmpeg runs from the folder of ffmpegtool. Its output
// is read as it arrives and only the last 64 KiB of each channel are kept,
// so a chatty ffmpeg neither fills memory nor blocks on a full pipe.
// Deleting the object ends a process that is still running.
class videoCodec_Process final : public QObject {
    Q_OBJECT

public:
    explicit videoCodec_Process(QObject* parent = nullptr);
    ~videoCodec_Process() override;
    Q_DISABLE_COPY_MOVE(videoCodec_Process)

    // Start the job; false when ffmpeg does not start. A second init of
    // either kind on the same object throws std::runtime_error.
    bool init_Decoder(int jobId, const QString& inputVideo, const QString& outputWav);
    bool init_Encoder(int jobId, const QString& inputVideo, const QString& inputAudio, const QString& outputVideo);

    // 0 no process, 1 running, 2 ended with exit code 0, 3 failed (another
    // exit code, or a crash).
    int getJobStatus();

    // The argument lists of the two jobs, in ffmpeg's order.
    static QStringList decoderArguments(const QString& inputVideo, const QString& outputWav);
    static QStringList encoderArguments(const QString& inputVideo, const QString& inputAudio,
                                        const QString& outputVideo);

    // Where a mux to `outputVideo` writes: "<output>.part", a name no
    // watched folder takes for a video or for audio.
    static QString partialVideoName(const QString& outputVideo);
    // ffmpeg's muxer for a video file name's suffix ("mkv" -> "matroska"),
    // since the partial name does not tell it; empty for an unknown suffix.
    static QString muxerFor(const QString& videoPath);

    // Last part of what ffmpeg wrote on standard error.
    QByteArray standardErrorText() const { return m_stdErr; }

    int id = 0;
    bool finished = false;
    int exitCode = -1;
    std::unique_ptr<QProcess> process;
    int mode = 0;

public slots:
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    bool start(int jobId, int jobMode, const QStringList& arguments, const char* misuseText);
    void readStandardOutput();
    void readStandardError();

    bool m_crashed = false;
    QByteArray m_stdOutUnread;
    QByteArray m_stdErr;
};
