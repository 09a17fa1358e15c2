#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace audiolib {
class DecodeStream;
}

// Writes a copy of a WAV (or any decodable file) with one linear gain
// applied, in the source's own sample format, on a pump thread of its own.
// One render per object.
class GainRenderer {
public:
    GainRenderer();
    ~GainRenderer();
    GainRenderer(const GainRenderer&) = delete;
    GainRenderer& operator=(const GainRenderer&) = delete;

    QByteArray inputFile;    // UTF-8 path to read
    QByteArray outputFile;   // UTF-8 path of the WAV to write
    float gain = 1.0f;       // linear

    // Starts the pump, which opens the input and the output itself (a slow
    // or stalled input never holds the caller); false only when a pump
    // exists already. An input that cannot be opened ("Error creating stream
    // from file: " and the code go to standard error) or an output that
    // cannot be created ends the render unsucceeded, with failureReason().
    bool start();
    // True when no pump is running.
    bool isFinished() const { return m_finished.load(); }
    // Asks the pump to stop and joins it; false when there was no pump.
    bool stop();
    // False when the output could not be written completely.
    bool succeeded() const { return m_succeeded.load(); }
    // Why the render could not start; empty otherwise. Read once isFinished().
    QString failureReason() const { return m_failureReason; }
    // Samples written at full scale, where the gain clipped them (or, for a
    // floating-point output, beyond it, where any player will).
    qint64 clippedSamples() const { return m_clipped.load(); }

private:
    void pump();
    // Opens the input and starts the writer; the failure reason, or empty.
    QString openStreams();

    bool m_busy = false;
    int m_format = 0;   // audiolib::SampleFormat of what the stream delivers
    std::unique_ptr<audiolib::DecodeStream> m_stream;
    std::thread m_worker;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_finished{true};
    std::atomic<bool> m_succeeded{false};
    std::atomic<qint64> m_clipped{0};
    // Written by the pump before it sets m_finished.
    QString m_failureReason;
};
