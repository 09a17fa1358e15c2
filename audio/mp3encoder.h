#pragma once

#include "audio/audioencoderparent.h"

#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

namespace audiolib {
class DecodeStream;
}

// Encodes one audio file to a constant-bit-rate MP3 on a worker thread of its
// own, pulling the source through the audio layer in 20,000-byte blocks.
//
// The MP3 is written under a temporary name next to the output ("<output>.part")
// and renamed when complete, so a reader never sees half an MP3 under the
// final name. The source is opened and the writer started on the worker too,
// so a slow or stalled source never holds the caller. An encoding that cannot
// start or fails (unreadable source, channel count or rate the MP3 writer
// refuses, unwritable folder, full disk) removes the partial file, reports
// itself finished with "Failed: <reason>" and never asks for its source to be
// deleted.
//
// The output name is claimed for the encoder's lifetime (outputclaims): a
// second encoder given the same name writes "<base> (N).mp3" instead, so two
// encoders never destroy each other's MP3.
//
// Lifetime: whoever lists the encoder owns it. Destroying an encoder whose
// worker still runs cancels the encoding and joins the worker (a pull takes
// milliseconds), so an encoder never outlives its thread.
class mp3Encoder : public audioEncoderParent {
public:
    mp3Encoder();
    ~mp3Encoder() override;
    mp3Encoder(const mp3Encoder&) = delete;
    mp3Encoder& operator=(const mp3Encoder&) = delete;

    // Ask for the source to be deleted once the MP3 is complete: its path is
    // appended to *deleteRequests under *deleteRequestsLock (both not owned).
    bool deleteInputWhenDone = false;
    QStringList* deleteRequests = nullptr;
    QMutex* deleteRequestsLock = nullptr;
    // Counted down once when the worker ends, unless it was cancelled (an
    // encoding cut off by the end of the program is still to be made).
    std::shared_ptr<std::atomic<int>> pendingEncodings;

    void setInputFile(const QString& path) override;
    void setOutputFile(const QString& path) override;
    QString inputFile() const override;
    QString outputFile() const override;
    bool start() override;
    bool cancel() override;
    bool isFinished() const override { return m_finished.load(); }
    float progress() const override { return m_progress.load(); }
    // Accepts "-b" followed by 32, 64, 96, 128, 160, 192, 224, 256 or 320.
    void setSettings(const QString& settings) override;
    QString settings() const override;
    QString statusText() const override;

    // True when the worker ended with a complete MP3 under outputFile().
    bool succeeded() const { return m_succeeded.load(); }
    // True when the worker ended without a complete MP3 (not cancelled).
    bool failed() const { return m_state.load() == Done && !m_succeeded.load(); }
    // Why the last encoding failed; empty unless it did.
    QString failureReason() const;

    enum State { Waiting = 0, Encoding = 1, Cancelled = 2, Done = 3 };
    int state() const { return m_state.load(); }

    static QString partialFileName(const QString& outputFile);

private:
    void work(const QString& input, const QString& output);
    // Opens the source and starts the writer on the partial file; the failure
    // reason, or empty when encoding can begin.
    QString openStreams(const QString& input, const QString& partial);
    void setFailureReason(const QString& reason);
    // Closes the writer and the stream, then renames or removes the partial
    // file; the failure reason, or empty when the MP3 is complete.
    QString finishOutput(const QString& output, bool readFailed);
    void requestSourceDeletion(const QString& input);
    // Sets the final state, counts the encoding down and, last, `finished`.
    void end(bool cancelled);

    std::unique_ptr<audiolib::DecodeStream> m_stream;
    QString m_inputFile;
    QString m_outputFile;
    QString m_settings = QStringLiteral("-b128");
    std::atomic<float> m_progress{0.0f};
    std::atomic<int> m_state{Waiting};
    std::thread m_worker;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_finished{true};
    std::atomic<bool> m_succeeded{false};
    mutable QMutex m_reasonLock;
    QString m_failureReason;
};
