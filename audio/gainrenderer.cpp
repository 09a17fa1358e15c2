#include "audio/gainrenderer.h"

#include "audio/audiolibrary.h"

#include <iostream>
#include <vector>

namespace {

constexpr qint64 kPullBytes = 20000;

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
    if (!m_stream->open(inputFile, audiolib::DecodeStream::Samples::Native)) {
        std::cerr << "Error creating stream from file: " << audiolib::lastErrorCode() << std::endl;
        return false;
    }
    m_stream->setVolume(gain);
    // Without a writer the pump would produce nothing while the caller takes
    // the output for written, so a writer that cannot start fails the render.
    if (!m_stream->startWavWriter(outputFile, audiolib::WavFormat::SourceFormat)) {
        std::cerr << "Error starting encoder: " << audiolib::lastErrorCode() << std::endl;
        m_stream->close();
        return false;
    }
    m_finished = false;
    m_stopRequested = false;
    m_worker = std::thread(&GainRenderer::pump, this);
    return true;
}

void GainRenderer::pump()
{
    std::vector<char> block(kPullBytes);
    qint64 got = 0;
    while (!m_stopRequested && (got = m_stream->read(block.data(), kPullBytes)) > 0) {
    }
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
