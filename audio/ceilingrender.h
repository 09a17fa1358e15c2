#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// Normalisation under a true-peak ceiling: the output of `input` reaches
// `target` (LUFS, or dB RMS) with its true peak at or below `ceilingDb`,
// through the look-ahead true-peak limiter. Limiting makes a dB of gain
// worth less than a dB of loudness, so the output is measured after each
// render and the gain corrected (a secant step) until it is within 0.05 of
// the target, five renders at most. The gain is capped so that the limiter
// never takes more than kMaxLimitingDb off a peak; where that leaves the
// output under its target, shortBy() says by how much.
struct CeilingRender {
    static constexpr double kMaxLimitingDb = 12.0;

    QByteArray input;    // UTF-8 paths
    QByteArray output;
    double target = 0;
    bool lufs = true;
    double ceilingDb = -1.0;
    // The input's measured level (in the target's unit) and true peak (dBTP).
    double measured = 0;
    double truePeak = 0;

    // Whether the plain gain to the target would pass the ceiling.
    static bool needsLimiting(double truePeakDb, double gainDb, double ceilingDb)
    {
        return truePeakDb + gainDb > ceilingDb;
    }

    // Renders on the caller's thread; false, with error(), when the input
    // cannot be read or the output not written (the output is then removed).
    // A set `stop` ends it early, unsucceeded.
    bool run(const std::atomic<bool>* stop = nullptr);

    double reached() const { return m_reached; }
    double gainDb() const { return m_gainDb; }
    QString error() const { return m_error; }
    // How far under the target the output stays (0 when it reached it
    // within 0.1).
    double shortBy() const;
    // "x LU under the target of -14 LUFS, which needs more than 12 dB of
    // true-peak limiting to stay at or below -1.0 dBTP".
    QString shortfallText() const;

private:
    double m_reached = 0;
    double m_gainDb = 0;
    QString m_error;
};
