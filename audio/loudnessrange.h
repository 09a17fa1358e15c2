#pragma once

#include <QtGlobal>

#include <array>
#include <map>
#include <vector>

// Momentary (0.4 s) and short-term (3 s) loudness of a K-weighted stream,
// evaluated every 10 ms, and the figures drawn from them: their maxima and
// the loudness range. The range is the spread between the 10th and the 95th
// percentile of the short-term loudness of every full 3 s window that passes
// an absolute gate at -70 LUFS and a relative gate 20 LU below the mean of
// the windows above -70. Only windows that lie wholly within the stream
// count: a stream shorter than 0.4 s has no momentary maximum, one shorter
// than 3 s no short-term maximum and no range. Memory is fixed: the last 3 s
// of 10 ms energies and a histogram of 0.01 LU bins from -70 to +10 LUFS,
// however long the stream; the rare windows louder than that (float files
// far over full scale) are kept in bins of their own, each counted.
class LoudnessRange final {
public:
    // weights: the loudness weight of each channel (0 leaves it out).
    LoudnessRange(int sampleRate, std::vector<double> weights);

    // Feeds the per-channel sums of squares of `frames` filtered frames,
    // at most framesLeftInTick() of them (the caller cuts its pieces there).
    void addEnergy(const double* energy, qint64 frames);
    qint64 framesLeftInTick() const { return m_tickFrames - m_tickFilled; }
    // Closes the last, partial 10 ms; call once at the end.
    void finish();

    // LUFS; minus infinity when the stream was silent or no window fits.
    double maxMomentary() const { return level(m_maxMomentary); }
    double maxShortTerm() const { return level(m_maxShortTerm); }
    // LU; NaN when no full 3 s window passed the gates.
    double loudnessRange() const;

private:
    static constexpr int kMomentaryTicks = 40;
    static constexpr int kShortTermTicks = 300;
    static constexpr double kLowest = -70.0;
    static constexpr double kBinWidth = 0.01;
    static constexpr int kBins = 8000;   // -70 to +10 LUFS

    static double level(double meanSquare);
    void closeTick();
    // Counts one full short-term window, given its mean square, into the range.
    void count(double shortTerm);
    // Windows in bin b (0 at -70 LUFS), whichever store holds it.
    qint64 binCount(qint64 b) const;
    qint64 lastBin() const;

    qint64 m_tickFrames;
    std::vector<double> m_weights;
    std::vector<double> m_tickEnergy;   // per channel, the open tick
    qint64 m_tickFilled = 0;
    std::array<double, kShortTermTicks> m_recent{};   // weighted energy per tick, ring
    qint64 m_ticks = 0;
    qint64 m_frames = 0;                // frames fed so far
    double m_maxMomentary = 0;
    double m_maxShortTerm = 0;
    std::vector<qint64> m_histogram;
    std::map<qint64, qint64> m_louder;   // bins from kBins on: windows over +10 LUFS
    double m_gatedEnergy = 0;           // short-term mean squares above -70, summed
    qint64 m_gatedCount = 0;
};
