#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// Generated audio fixtures for the tests: every file is written fresh into a
// temporary folder, nothing is downloaded or copied.
namespace fixtures {

enum class SampleFormat { Pcm16, Pcm24, Float32 };

struct Signal {
    int sampleRate = 48000;
    int channels = 2;
    SampleFormat format = SampleFormat::Pcm16;
};

// Writes interleaved float samples (-1..1) as a WAV file.
bool writeWav(const QString& path, const std::vector<float>& interleaved, const Signal& signal);

// Sine of the given frequency and peak amplitude, same in every channel.
std::vector<float> sine(double seconds, double frequency, double amplitude, const Signal& signal);
// White noise with the given peak amplitude, independent per channel, fixed seed.
std::vector<float> whiteNoise(double seconds, double amplitude, const Signal& signal, uint32_t seed = 1);
// Pink noise (Voss-McCartney approximation) scaled to the given peak amplitude.
std::vector<float> pinkNoise(double seconds, double amplitude, const Signal& signal, uint32_t seed = 2);
std::vector<float> silence(double seconds, const Signal& signal);

bool writeSine(const QString& path, double seconds, double frequency, double amplitude, const Signal& signal);
bool writeNoise(const QString& path, double seconds, double amplitude, const Signal& signal);
bool writeSilence(const QString& path, double seconds, const Signal& signal);

// A WAV whose header promises more data than the file holds.
bool writeTruncatedWav(const QString& path, const Signal& signal);
// Bytes that no decoder accepts as audio.
bool writeCorruptFile(const QString& path);

// Reads a whole audio file back as interleaved floats; false when unreadable.
bool readAudio(const QString& path, std::vector<float>& interleaved, int& sampleRate, int& channels);
// The sample format a WAV file stores; false when it is none of ours.
bool readFormat(const QString& path, SampleFormat& format);

// Integrated loudness of a file in LUFS, measured by libebur128 as the
// independent reference; NaN when the file cannot be read.
double integratedLoudness(const QString& path);

// Largest absolute sample value, linear (1.0 = full scale; 0 for silence).
double peak(const std::vector<float>& samples);
// RMS level in dBFS of interleaved samples (-inf for silence or no samples).
double rmsDb(const std::vector<float>& samples);

} // namespace fixtures
