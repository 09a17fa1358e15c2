#pragma once

#include "audiofixtures.h"

#include <QStringList>

#include <vector>

namespace fixtures {

// Six seconds of pink noise of peak 0.2 with 5 ms bursts of 3 kHz of
// amplitude `bursts` every half second, then scaled so that the loudest
// sample is 0.9: a quiet programme with sharp peaks, which a loudness target
// pushes past full scale unless a true-peak limiter holds it.
std::vector<float> peakyProgramme(double bursts, const Signal& signal);

// Writes two such programmes into `folder`: "few.wav" (bursts of 0.5, a few
// dB past -1 dBTP at -14 LUFS) and "many.wav" (bursts of 8, far more than
// 12 dB past it); returns their native paths, empty if one cannot be written.
QStringList writePeakyPair(const QString& folder);

} // namespace fixtures
