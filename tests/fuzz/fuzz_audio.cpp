// Audio bytes of any kind (WAV, RF64, FLAC, Ogg, MP3, ...) opened through
// the audio layer from memory, read in both sample kinds, and measured by the
// loudness meter.
#include "audio/audiolibrary.h"
#include "audio/loudnessmeter.h"
#include "fuzzentry.h"

#include <stdexcept>
#include <vector>

namespace {

void readSome(const QByteArray& input, audiolib::DecodeStream::Samples samples)
{
    audiolib::DecodeStream stream;
    if (!stream.openBytes(input, samples))
        return;
    audiolib::StreamInfo info;
    stream.info(info);
    (void)stream.lengthBytes();
    std::vector<char> block(20000);
    for (int pulls = 0; pulls < 64 && stream.read(block.data(), qint64(block.size())) > 0; ++pulls) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzing::bytes(data, size);
    readSome(input, audiolib::DecodeStream::Samples::Native);
    auto stream = std::make_unique<audiolib::DecodeStream>();
    if (!stream->openBytes(input, audiolib::DecodeStream::Samples::Float, true))
        return 0;
    try {
        LoudnessMeter meter(std::move(stream), "K-weighting", 0.4f);
        meter.measure();
    } catch (const std::runtime_error&) {
        // A stream that fails in the middle is reported, not measured.
    }
    return 0;
}
