#pragma once

#include "audiofixtures.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Broken audio files for the tests of bad input: headers that lie, streams
// without a length, float data that are not numbers. Written byte by byte
// where a correct writer would refuse.
namespace fixtures {

struct RawWav {
    int formatTag = 1;          // 1 PCM, 3 IEEE float
    int channels = 1;
    qint64 sampleRate = 48000;  // written as the 32-bit field, whatever it holds
    int bits = 16;
    bool dataChunk = true;
    quint32 channelMask = 0;    // not 0: a WAVE_FORMAT_EXTENSIBLE header with this mask
};

// A RIFF WAV with the given header fields and data bytes.
bool writeRawWav(const QString& path, const RawWav& header, const QByteArray& data);
// Interleaved float samples as the bytes of a 32-bit float data chunk.
QByteArray floatBytes(const std::vector<float>& samples);
// A 16-bit FLAC file whose header leaves the sample count unknown.
bool writeFlacWithoutLength(const QString& path, const std::vector<float>& interleaved, const Signal& signal);

} // namespace fixtures
