#pragma once

#include <QString>

// Tuning of the noise suppressor, read from the model folder's parameter
// file ("key = value" lines, "#" comments).
struct DenoiseParameters {
    double frameSeconds = 0;
    double noisePercentile = 0;
    int toneGuardBins = 0;
    double toneGuardDb = 0;
    double snrSmoothing = 0;
    double speechFloorDb = 0;
    double musicFloorDb = 0;
    double floorSlewDbPerSecond = 0;
    double musicPeakDb = 0;
    double musicPeakShare = 0;
    double defaultStmLength = 0;
    double defaultMtsLength = 0;

    static QString fileName() { return QStringLiteral("denoise.params"); }
    // False with a reason when the file is missing, a key is missing or
    // unknown, or a value is out of range.
    bool load(const QString& path, QString& error);
};
