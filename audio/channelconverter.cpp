#include "audio/channelconverter.h"

#include "audio/audiolibrary.h"

#include <QFile>

#include <iostream>
#include <vector>

namespace {

constexpr qint64 kPullBytes = 20000;

void reportError(const char* text)
{
    std::cerr << text << audiolib::lastErrorCode() << std::endl;
}

} // namespace

ChannelConverter::ChannelConverter()
    : m_source(std::make_unique<audiolib::DecodeStream>())
    , m_writer(std::make_unique<audiolib::WavWriter>())
{
}

ChannelConverter::~ChannelConverter()
{
    m_stopRequested = true;
    if (m_worker.joinable())
        m_worker.join();
}

int ChannelConverter::result() const
{
    std::lock_guard<std::mutex> lock(resultLock);
    return m_result;
}

void ChannelConverter::setResult(int value)
{
    std::lock_guard<std::mutex> lock(resultLock);
    m_result = value;
}

bool ChannelConverter::convert(bool synchronous)
{
    if (m_busy)
        return false;
    m_busy = true;
    m_stopRequested = false;
    m_idle = true;
    setResult(Working);

    if (!m_source->open(inputFile, audiolib::DecodeStream::Samples::Float)) {
        reportError("Error creating stream from file: ");
        setResult(Failed);
        return false;
    }
    audiolib::StreamInfo info;
    if (!m_source->info(info)) {
        reportError("Error retrieving channel info: ");
        setResult(Failed);
        m_source->close();
        return false;
    }
    m_sourceIsMono = info.channels == 1;
    if (mode == MonoToStereo && m_sourceIsMono) {
        m_outputChannels = 2;
    } else if (mode == StereoToMono && !m_sourceIsMono) {
        m_outputChannels = 1;
    } else {
        setResult(NothingConverted);
        m_source->close();
        return true;
    }
    if (info.channels > 2) {
        std::cerr << "File > stereo. Not supported" << std::endl;
        setResult(NothingConverted);
        m_source->close();
        return false;
    }
    audiolib::StreamInfo output = info;
    output.channels = m_outputChannels;
    const auto format = info.sourceIsFloat ? audiolib::WavFormat::SourceFormat : audiolib::WavFormat::Pcm16;
    if (!m_writer->open(outputFile, output, format, m_source->lengthFrames())) {
        reportError("Error starting encoder on processed stream: ");
        setResult(Failed);
        m_source->close();
        return false;
    }
    m_idle = false;
    if (synchronous)
        conversionLoop();
    else
        m_worker = std::thread(&ChannelConverter::conversionLoop, this);
    return true;
}

void ChannelConverter::conversionLoop()
{
    std::vector<float> in(kPullBytes / sizeof(float));
    std::vector<float> out(in.size() * 2);
    bool ok = true;
    const auto stopped = [this] { return m_stopRequested || (stop && stop->load()); };
    while (!stopped()) {
        const qint64 got = m_source->read(in.data(), kPullBytes);
        if (got < 1) {
            ok = got == 0;
            break;
        }
        const qint64 samples = got / qint64(sizeof(float));
        qint64 produced = 0;
        if (m_outputChannels == 2) {
            for (qint64 i = 0; i < samples; ++i) {
                out[size_t(2 * i)] = in[size_t(i)];
                out[size_t(2 * i + 1)] = in[size_t(i)];
            }
            produced = samples * 2;
        } else {
            for (qint64 i = 0; i < samples; i += 2)
                out[size_t(produced++)] = in[size_t(i)];
        }
        if (!m_writer->write(out.data(), produced * qint64(sizeof(float)))) {
            ok = false;
            break;
        }
    }
    ok = m_writer->close() && ok && !stopped();
    m_source->close();
    // A decoding or writing failure must not pass for a finished conversion:
    // the partial output is removed and the result says so.
    if (!ok)
        QFile::remove(QString::fromUtf8(outputFile));
    m_idle = true;
    setResult(ok ? Converted : Failed);
}
