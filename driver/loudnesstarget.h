#pragma once

#include <QString>

// A normalisation target of the loudness window as its radio buttons name
// it ("-16 LUFS", "-20 dB"): the level, the unit, and what follows from
// them for one measured file (gain and output name).
struct LoudnessTarget {
    float value = 0.0f;
    bool lufs = true;   // false: dB RMS

    // Lower case and trimmed, the text ends in "db" or "lufs" and the rest
    // reads as a float; false otherwise.
    static bool parse(const QString& text, LoudnessTarget& out);

    QString unit() const { return lufs ? QStringLiteral("lufs") : QStringLiteral("db"); }
    QString unitLabel() const { return lufs ? QStringLiteral("LUFS") : QStringLiteral("dB RMS"); }
    // The measured level this target is compared with.
    double measured(double lufsValue, double dbRms) const { return lufs ? lufsValue : dbRms; }
    // 10^((target - measured) / 20), the difference rounded to a float first.
    float gain(double lufsValue, double dbRms) const;
    // folder/complete-base-name + " " + target + " " + unit label + ".wav",
    // in native separators.
    QString outputPath(const QString& file) const;
};
