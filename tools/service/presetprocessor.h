#pragma once

#include "presetcatalog.h"

#include <QString>
#include <functional>

namespace audiolib {
class DecodeStream;
struct StreamInfo;
} // namespace audiolib

// Runs one preset over a file and writes the result as a WAV in the source's
// sample resolution (16-bit for compressed sources):
//   1. analysis pass: decode, high-pass when the preset has one (into a
//      float intermediate next to the output), and find the sample peak;
//   2. integrated loudness of the (filtered) audio with the loudness meter;
//   3. render pass: one gain that brings the loudness to the target, lowered
//      where needed so that the peak stays below the preset's ceiling.
// Passthrough copies a WAV as it is and decodes anything else into a WAV.
// Progress is a fraction from 0 to 1; when the callback returns false the
// work stops and process() fails.
class PresetProcessor {
public:
    using Progress = std::function<bool(double fraction)>;

    PresetProcessor(const Preset& preset, Progress progress);

    bool process(const QString& input, const QString& output);
    const QString& error() const { return error_; }
    // Gain the last loudness preset applied, in dB.
    double appliedGainDb() const { return appliedGainDb_; }

private:
    bool copyFile(const QString& input, const QString& output);
    bool normalise(const QString& input, const QString& output);
    // Decodes `from` (high-passing into `filtered` when it is not empty) and
    // returns the sample peak in `peak`.
    bool analyse(const QString& from, const QString& filtered, float& peak);
    bool measure(const QString& path, double& lufs);
    // Decodes `from`, applies `gain` and writes `output` in the resolution
    // of the original upload.
    bool render(const QString& from, const QString& output, float gain, double progressFrom);
    bool fail(const QString& message);
    bool openStream(audiolib::DecodeStream& stream, const QString& path, audiolib::StreamInfo& info);
    // Reads the stream to its end in blocks of float samples, handing each to
    // `handle` (which may change it, and returns false after fail()), and
    // reports progress from `progressFrom` to `progressTo`.
    using BlockHandler = std::function<bool(float* samples, qint64 bytes)>;
    bool pump(audiolib::DecodeStream& stream, int channels, double progressFrom, double progressTo,
              const BlockHandler& handle);

    Preset preset_;
    Progress progress_;
    QString error_;
    double appliedGainDb_ = 0;
    bool sourceIsFloat_ = false;
    int sourceBits_ = 16;
};
