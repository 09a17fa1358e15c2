#pragma once

#include <QtGlobal>

// Sums of squares of interleaved samples per channel, for the loudness
// figures. Adds each channel's sum of squares over whole interleaved frames
// to energy[c]: every square and sum in double, so that no finite sample,
// however large, makes an infinite energy. Several accumulators per channel
// let the additions overlap.
namespace channelenergy {

template <int C>
void addFixed(const float* p, qint64 frames, double* energy)
{
    double acc[4][C] = {};
    qint64 i = 0;
    for (; i + 4 <= frames; i += 4)
        for (int u = 0; u < 4; ++u)
            for (int c = 0; c < C; ++c) {
                const double v = p[(i + u) * C + c];
                acc[u][c] += v * v;
            }
    for (; i < frames; ++i)
        for (int c = 0; c < C; ++c) {
            const double v = p[i * C + c];
            acc[0][c] += v * v;
        }
    for (int c = 0; c < C; ++c)
        energy[c] += (acc[0][c] + acc[1][c]) + (acc[2][c] + acc[3][c]);
}

inline void add(const float* p, qint64 frames, int channels, double* energy)
{
    if (channels == 1)
        return addFixed<1>(p, frames, energy);
    if (channels == 2)
        return addFixed<2>(p, frames, energy);
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double v = p[i * channels + c];
            energy[c] += v * v;
        }
}

} // namespace channelenergy
