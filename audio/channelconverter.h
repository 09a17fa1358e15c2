#pragma once

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace audiolib {
class DecodeStream;
class WavWriter;
}

// Turns a mono file into two identical stereo channels (mode 0) or a stereo
// file into mono by keeping the left channel (mode 1), streaming it in
// 20,000-byte blocks into a WAV file: 16-bit, or 32-bit float when the source
// stores floats. One conversion per object.
class ChannelConverter {
public:
    enum Mode { MonoToStereo = 0, StereoToMono = 1 };
    enum Result { Working = 1, Converted = 2, NothingConverted = 3, Failed = 4 };

    ChannelConverter();
    ~ChannelConverter();
    ChannelConverter(const ChannelConverter&) = delete;
    ChannelConverter& operator=(const ChannelConverter&) = delete;

    QByteArray inputFile;    // UTF-8
    QByteArray outputFile;   // UTF-8, WAV
    int mode = MonoToStereo;
    // When set by another thread, the conversion ends early and fails (its
    // partial output removed). Must outlive the conversion.
    const std::atomic<bool>* stop = nullptr;

    // Prepares the conversion and runs it now (synchronous) or on a worker
    // thread. False when the object was used already, the input cannot be
    // opened, stereo-to-mono meets more than two channels, or the output
    // cannot be created; true also when there is nothing to convert
    // (result() then says NothingConverted).
    bool convert(bool synchronous);
    int result() const;
    bool isIdle() const { return m_idle.load(); }

private:
    void setResult(int value);
    void conversionLoop();

    bool m_busy = false;
    mutable std::mutex resultLock;
    int m_result = 0;
    std::unique_ptr<audiolib::DecodeStream> m_source;
    std::unique_ptr<audiolib::WavWriter> m_writer;
    bool m_sourceIsMono = false;
    int m_outputChannels = 0;
    std::thread m_worker;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_idle{true};
};
