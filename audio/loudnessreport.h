#pragma once

#include <limits>

// The figures a loudness meter gives beside the integrated loudness, all
// from the same pass: what professional meters show and delivery
// requirements limit.
struct LoudnessReport {
    // LU, the spread of the gated short-term loudness; NaN when no full
    // 3 s window passed the gates (silence, or shorter than 3 s).
    double loudnessRange = std::numeric_limits<double>::quiet_NaN();
    // LUFS, the loudest 0.4 s and 3 s windows; -inf for silence.
    double maxMomentary = -std::numeric_limits<double>::infinity();
    double maxShortTerm = -std::numeric_limits<double>::infinity();
    // dBTP, the peak of the signal between the samples as well; -inf for silence.
    double truePeak = -std::numeric_limits<double>::infinity();
    // dBFS, the largest sample; -inf for silence.
    double samplePeak = -std::numeric_limits<double>::infinity();
};
