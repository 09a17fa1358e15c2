#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include "video/sourcesound.h"

#include <memory>

// One ffmpeg job, started and polled on the GUI thread: either the
// extraction of a video's first sound track into a PCM WAV file (mode 1: a
// first ffmpeg run only describes the input, so that 24-bit and
// floating-point sound is extracted at 24 bits and the rest at 16), which
// also writes the checksums of the track's first packet to
// startChecksumsName(wav) so that its start time is known, or the mux of a
// processed sound into a copy of the video (mode 2): every stream of the
// source (pictures, other sound tracks, subtitles, attachments), its tags and
// chapters are copied as they are, and the processed sound takes the first
// sound track's place, start time, language and codec (SourceSound). A mux writes partialVideoName(output), never the
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
    bool init_Encoder(int jobId, const QString& inputVideo, const QString& inputAudio, const QString& outputVideo,
                      const SourceSound& sound = SourceSound());

    // 0 no process, 1 running, 2 ended with exit code 0, 3 failed (another
    // exit code, or a crash).
    int getJobStatus();

    // The argument lists of the two jobs, in ffmpeg's order.
    // `highResolution`: the sound is extracted at 24 bits instead of 16.
    static QStringList decoderArguments(const QString& inputVideo, const QString& outputWav,
                                        bool highResolution = false);
    static QStringList encoderArguments(const QString& inputVideo, const QString& inputAudio,
                                        const QString& outputVideo, const SourceSound& sound = SourceSound());
    // Where an extraction to `outputWav` writes its first packet's checksums.
    static QString startChecksumsName(const QString& outputWav);

    // Where a mux to `outputVideo` writes: "<output>.part", a name no
    // watched folder takes for a video or for audio.
    static QString partialVideoName(const QString& outputVideo);
    // ffmpeg's muxer for a video file name's suffix ("mkv" -> "matroska"),
    // since the partial name does not tell it; empty for an unknown suffix.
    static QString muxerFor(const QString& videoPath);

    // Last part of what ffmpeg wrote on standard error.
    QByteArray standardErrorText() const { return m_stdErr; }
    // First part of it: ffmpeg's description of its inputs and outputs.
    QByteArray standardErrorHead() const { return m_stdErrHead; }

    int id = 0;
    bool finished = false;
    int exitCode = -1;
    std::unique_ptr<QProcess> process;
    int mode = 0;

public slots:
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    bool start(int jobId, int jobMode, const QStringList& arguments, const char* misuseText);
    // Starts ffmpeg with `arguments` as the job's process.
    bool launch(const QStringList& arguments);
    // The extraction's first step has described the input: the extraction proper starts.
    void probeFinished();
    void readStandardOutput();
    void readStandardError();

    bool m_crashed = false;
    QByteArray m_stdOutUnread;
    QByteArray m_stdErr;
    QByteArray m_stdErrHead;
    std::unique_ptr<QProcess> m_probe;
    QString m_decoderInput;
    QString m_decoderOutput;
};
