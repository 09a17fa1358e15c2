#pragma once

#include <QtGlobal>

#include <vector>

// The true peak of a stream: the largest absolute value of the signal the
// samples describe, between the samples as well as on them. Each channel is
// oversampled four times with a polyphase windowed-sinc interpolator that is
// flat to 0.45 of the sample rate, and the largest oversampled value is
// refined with a parabola through its neighbours, so that a sine up to 0.45
// of the sample rate reads within a few hundredths of a dB of its peak at any
// phase. Stretches whose samples are too small to beat the peak found so far
// (the interpolator's gain bound says so) are not oversampled at all.
class TruePeakDetector final {
public:
    static constexpr int kPhases = 4;
    static constexpr int kTaps = 32;   // per phase

    explicit TruePeakDetector(int channels);

    // Feeds interleaved samples, whole frames.
    void process(const float* interleaved, qint64 frames);
    // Lets the last samples through the interpolator; call once at the end.
    void finish();
    // Largest absolute value so far, full scale 1.0 (0 before any sample).
    double peak() const { return m_peak / kInputScale; }

    // The interpolated value of channel history `x` (oldest first, at least
    // kTaps samples ending at the newest one) at `phase` quarters of a
    // sample after x[kTaps - 1] minus the interpolator's delay.
    static float interpolate(const float* newestLast, int phase);
    // The peak magnitude of the parabola through three equally spaced values
    // whose middle one is the largest in magnitude; that middle magnitude
    // when they do not bend.
    static double refinedPeak(float before, float middle, float after);
    // No interpolated value exceeds the largest sample it reads by more
    // than this factor.
    static float amplificationBound();
    // Delay of the interpolator in input samples.
    static constexpr double kDelay = double(kPhases * kTaps - 1) / (2.0 * kPhases);

private:
    // Samples are halved as they are copied in (exactly, a power of two), so
    // that no finite sample overflows the interpolator's float sums.
    static constexpr float kInputScale = 0.5f;

    void processChannel(int c, qint64 frames);
    void scanPositions(const float* buf, qint64 first, qint64 count, qint64 total);

    int m_channels;
    double m_peak = 0;
    std::vector<std::vector<float>> m_history;   // per channel: kTaps - 1 older samples, then the new ones
    // Screening of one call: per four samples, and per four positions.
    std::vector<float> m_quadMax, m_quadMin;
    std::vector<float> m_bound;
    std::vector<float> m_setBound;   // the largest bound of each set of kBlock positions
    std::vector<float> m_eightMax;   // the largest magnitude of each eight fours
    const float* m_interleaved = nullptr;
};
