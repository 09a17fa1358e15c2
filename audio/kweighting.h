#pragma once

#include "audio/iirfilter.h"

#include <vector>

// The K-weighting of ITU-R BS.1770 at any sample rate. The standard gives
// the two sections (a high shelf near 1.7 kHz, then a high-pass near 38 Hz)
// for 48 kHz only. At other rates the high-pass is the bilinear transform
// of its analog prototype with the standard's passband gain, and the shelf
// is fitted to the standard's response: a least-squares fit of the five
// coefficients, weighted towards the largest errors, from 20 Hz to 0.45 of
// the sample rate (above 21.6 kHz the analog prototype continues the
// standard's response). The chain then stays within a hundredth of a dB of
// the standard from 8 kHz to 768 kHz, where the bilinear transform alone
// strays by 0.3 dB at 8 kHz. Fitted designs are kept per rate for the
// process's lifetime; any thread may ask.
namespace kweighting {

// The shelf, then the high-pass, for sample rate fs; the first section
// scales its output by `gain`.
std::vector<IIRFilter> chain(double fs, double gain = 1.0);

} // namespace kweighting
