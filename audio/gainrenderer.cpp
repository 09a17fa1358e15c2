#include "audio/gainrenderer.h"

#include "audio/audiolibrary.h"

#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kPullBytes = 20000;
// 24-bit sources arrive shifted up 8 bits: their full scale starts here.
constexpr qint32 kInt32FullScale = 0x7FFFFF00;

qint64 countFullScale(const char* data, qint64 bytes, audiolib::SampleFormat format)
{
    qint64 count = 0;
    switch (format) {
    case audiolib::SampleFormat::Int16: {
        const auto* p = reinterpret_cast<const qint16*>(data);
        for (qint64 i = 0; i < bytes / qint64(sizeof(qint16)); ++i)
            count += (p[i] == std::numeric_limits<qint16>::max() || p[i] == std::numeric_limits<qint16>::min()) ? 1 : 0;
        break;
    }
    case audiolib::SampleFormat::Int32: {
        const auto* p = reinterpret_cast<const qint32*>(data);
        for (qint64 i = 0; i < bytes / qint64(sizeof(qint32)); ++i)
            count += (p[i] >= kInt32FullScale || p[i] == std::numeric_limits<qint32>::min()) ? 1 : 0;
        break;
    }
    case audiolib::SampleFormat::Float32: {
        const auto* p = reinterpret_cast<const float*>(data);
        for (qint64 i = 0; i < bytes / qint64(sizeof(float)); ++i)
            count += std::fabs(p[i]) > 1.0f ? 1 : 0;
        break;
    }
    }
    return count;
}

} // namespace

GainRenderer::GainRenderer()
    : m_stream(std::make_unique<audiolib::DecodeStream>())
{
}

GainRenderer::~GainRenderer()
{
    stop();
}

bool GainRenderer::start()
{
    if (m_worker.joinable())
        return false;
    m_busy = true;
    m_succeeded = false;
    m_clipped = 0;
    m_failureReason.clear();
    m_finished = false;
    m_stopRequested = false;
    m_worker = std::thread(&GainRenderer::pump, this);
    return true;
}

QString GainRenderer::openStreams()
{
    if (!m_stream->open(inputFile, audiolib::DecodeStream::Samples::Native)) {
        std::cerr << "Error creating stream from file: " << audiolib::lastErrorCode() << std::endl;
        return QStringLiteral("cannot open the source: ") + QString::fromLatin1(audiolib::errorText(audiolib::lastError()));
    }
    m_stream->setVolume(gain);
    audiolib::StreamInfo info;
    m_stream->info(info);
    m_format = int(info.format);
    // Without a writer the pump would produce nothing while the caller takes
    // the output for written, so a writer that cannot start fails the render.
    if (!m_stream->startWavWriter(outputFile, audiolib::WavFormat::SourceFormat)) {
        const audiolib::ErrorCode code = audiolib::lastError();
        std::cerr << "Error starting encoder: " << int(code) << std::endl;
        m_stream->close();
        return QStringLiteral("cannot create the output: ") + QString::fromLatin1(audiolib::errorText(code));
    }
    return QString();
}

void GainRenderer::pump()
{
    m_failureReason = openStreams();
    if (!m_failureReason.isEmpty()) {
        m_finished = true;
        return;
    }
    std::vector<char> block(kPullBytes);
    qint64 got = 0;
    const auto format = audiolib::SampleFormat(m_format);
    qint64 clipped = 0;
    while (!m_stopRequested && (got = m_stream->read(block.data(), kPullBytes)) > 0)
        clipped += countFullScale(block.data(), got, format);
    m_clipped = clipped;
    const bool written = m_stream->stopWriter();
    m_stream->close();
    m_succeeded = written && got == 0 && !m_stopRequested;
    m_finished = true;
}

bool GainRenderer::stop()
{
    m_stopRequested = true;
    if (!m_worker.joinable())
        return false;
    m_worker.join();
    return true;
}
