#pragma once

#include <QByteArray>

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

    // Opens the input and starts the pump; false when a pump exists already
    // or the input cannot be opened ("Error creating stream from file: " and
    // the code go to standard error).
    bool start();
    // True when no pump is running.
    bool isFinished() const { return m_finished.load(); }
    // Asks the pump to stop and joins it; false when there was no pump.
    bool stop();
    // False when the output could not be written completely.
    bool succeeded() const { return m_succeeded.load(); }
    // Samples written at full scale, where the gain clipped them (or, for a
    // floating-point output, beyond it, where any player will).
    qint64 clippedSamples() const { return m_clipped.load(); }

private:
    void pump();

    bool m_busy = false;
    int m_format = 0;   // audiolib::SampleFormat of what the stream delivers
    std::unique_ptr<audiolib::DecodeStream> m_stream;
    std::thread m_worker;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_finished{true};
    std::atomic<bool> m_succeeded{false};
    std::atomic<qint64> m_clipped{0};
};
