#pragma once

#include "driver/loudnesstarget.h"

#include <QString>

#include <memory>
#include <vector>

class LoudnessMeter;

// One run of the loudness normaliser tool: for every measured file that is
// not silent, a copy at the target written next to it, one file at a time.
// Where the true peak is to be limited and a file's true peak would pass
// kCeilingDbtp at the target's gain, the copy is written through the
// true-peak limiter instead of a plain gain. Each output is written under
// "<output>.part" and renamed to its name when complete (an older file of
// that name is replaced then); a failed, stopped or cut-off render removes
// its partial file and leaves nothing under the output's name. An output
// whose samples clipped is measured again to tell the level it reached.
//
// Lives on the main thread and is advanced by tick(); the renders and
// measurements run on their own threads. Destroying the run stops the
// render at work and removes its partial file; outputs written stay.
class LoudnessRun {
public:
    // Files at or below this loudness are silent and left out of runs.
    static constexpr double kSilentLufs = -70.0;
    // The true-peak ceiling of the limited renders, in dBTP.
    static constexpr double kCeilingDbtp = -1.0;
    static bool isSilent(const LoudnessMeter& meter);

    // `measured` are the meters of the files (they outlive the run's start).
    LoudnessRun(const LoudnessTarget& target, bool limitTruePeak, const std::vector<const LoudnessMeter*>& measured);
    ~LoudnessRun();
    LoudnessRun(const LoudnessRun&) = delete;
    LoudnessRun& operator=(const LoudnessRun&) = delete;

    // What one step did: an output begun (its path, native separators) or
    // ended (" OK", " OK, but ...", " failed: <reason>"); both empty when
    // the step only waited.
    struct Step {
        QString started;
        QString ended;
    };
    // Begins the next output, or takes the one at work on once it is done.
    Step tick();
    bool isDone() const { return m_outputs.empty(); }

private:
    struct Output;
    static QString clippingReport(const Output& output);

    std::vector<std::unique_ptr<Output>> m_outputs;
};
