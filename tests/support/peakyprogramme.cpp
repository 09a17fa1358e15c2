#include "peakyprogramme.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace fixtures {

std::vector<float> peakyProgramme(double bursts, const Signal& signal)
{
    const double noise = 0.2;
    std::vector<float> samples = pinkNoise(6.0, noise, signal);
    const qint64 burst = signal.sampleRate / 200;
    const qint64 frames = qint64(samples.size()) / signal.channels;
    for (qint64 start = signal.sampleRate / 4; start + burst < frames; start += signal.sampleRate / 2)
        for (qint64 i = 0; i < burst; ++i)
            for (int c = 0; c < signal.channels; ++c)
                samples[size_t((start + i) * signal.channels + c)] +=
                    float(bursts * std::sin(2 * M_PI * 3000.0 * double(i) / signal.sampleRate));
    const float loudest = *std::max_element(samples.begin(), samples.end());
    for (float& v : samples)
        v *= 0.9f / loudest;
    return samples;
}

QStringList writePeakyPair(const QString& folder)
{
    const Signal signal;
    const QString few = QDir::toNativeSeparators(folder + QStringLiteral("/few.wav"));
    const QString many = QDir::toNativeSeparators(folder + QStringLiteral("/many.wav"));
    if (!writeWav(few, peakyProgramme(0.5, signal), signal) || !writeWav(many, peakyProgramme(8.0, signal), signal))
        return {};
    return {few, many};
}

} // namespace fixtures
