#pragma once

#include <vector>

// Taps of a windowed-sinc interpolator that raises the sample rate by
// `phases`, its cut-off at the input's Nyquist frequency, with a Kaiser
// window of the given beta over phases x taps points. taps[p][k]
// multiplies the sample k steps before the newest one for the output of
// phase p; each phase is scaled to unit gain at 0 Hz. The output of phase p
// computed with newest sample m lies (phases x taps - 1) / (2 x phases)
// samples before m, plus p / phases.
std::vector<std::vector<double>> polyphaseSinc(int phases, int taps, double beta);
