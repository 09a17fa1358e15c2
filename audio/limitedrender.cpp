#include "audio/limitedrender.h"

#include "audio/audiolibrary.h"
#include "audio/truepeaklimiter.h"

#include <vector>

bool renderLimited(const QByteArray& input, const QByteArray& output, double gain, double ceilingDb,
                   double& maxReductionDb, QByteArray& error, const std::atomic<bool>* stop)
{
    maxReductionDb = 0;
    audiolib::DecodeStream stream;
    if (!stream.open(input, audiolib::DecodeStream::Samples::Float)) {
        error = "Error creating stream from file: " + QByteArray::number(audiolib::lastErrorCode());
        return false;
    }
    audiolib::StreamInfo info;
    stream.info(info);
    audiolib::WavWriter writer;
    if (!writer.open(output, info, audiolib::WavFormat::SourceFormat, stream.lengthFrames())) {
        error = "Error starting encoder: " + QByteArray::number(audiolib::lastErrorCode());
        return false;
    }
    TruePeakLimiter limiter(info.sampleRate, info.channels, gain, ceilingDb);
    const qint64 frames = 16384;
    std::vector<float> in(size_t(frames * info.channels));
    std::vector<float> out;
    bool written = true;
    qint64 got = 0;
    bool stopped = false;
    while ((got = stream.read(in.data(), qint64(in.size() * sizeof(float)))) > 0) {
        if (stop && stop->load()) {
            stopped = true;
            break;
        }
        out.clear();
        limiter.process(in.data(), got / qint64(sizeof(float)) / info.channels, out);
        written = written && writer.write(out.data(), qint64(out.size() * sizeof(float)));
    }
    out.clear();
    limiter.flush(out);
    written = written && writer.write(out.data(), qint64(out.size() * sizeof(float)));
    written = writer.close() && written;
    maxReductionDb = limiter.maxReductionDb();
    if (stopped)
        error = "Stopped";
    else if (got < 0)
        error = "Error reading from source file (GetData)";
    else if (!written)
        error = "Error writing " + output;
    return !stopped && got == 0 && written;
}
