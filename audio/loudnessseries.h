#pragma once

#include <vector>

// Loudness over time of one file, collected by the loudness meter in the
// same pass as its integrated value: one point per gating-block hop (0.1 s
// for 0.4 s blocks), each at the end of its windows. Momentary loudness is
// the loudness of the gating block itself, short-term loudness that of the
// 3 s ending at the same point, with the time before the file counted as
// silence (a window fills up during the first 3 s). Silence reads as about
// -100.7 LUFS, as in the meter's gating.
struct LoudnessSeries {
    static constexpr double kShortTermSeconds = 3.0;

    std::vector<double> times;       // seconds from the start of the file
    std::vector<double> momentary;   // LUFS
    std::vector<double> shortTerm;   // LUFS
    double samplePeak = 0.0;         // largest absolute unfiltered sample, full scale 1.0

    void clear()
    {
        times.clear();
        momentary.clear();
        shortTerm.clear();
        samplePeak = 0.0;
    }
};
