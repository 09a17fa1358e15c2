#include "denoiseparameters.h"

#include <QFile>
#include <QHash>
#include <QTextStream>

#include <cmath>

namespace {

struct Key {
    double* target;
    double min;
    double max;
};

} // namespace

bool DenoiseParameters::load(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    double guardBins = 0;
    const QHash<QString, Key> keys{
        {"frame_seconds", {&frameSeconds, 0.005, 0.5}},
        {"noise_percentile", {&noisePercentile, 0.01, 0.9}},
        {"tone_guard_bins", {&guardBins, 0, 256}},
        {"tone_guard_db", {&toneGuardDb, 0, 60}},
        {"snr_smoothing", {&snrSmoothing, 0, 0.999}},
        {"speech_floor_db", {&speechFloorDb, -100, 0}},
        {"music_floor_db", {&musicFloorDb, -100, 0}},
        {"floor_slew_db_per_second", {&floorSlewDbPerSecond, 1, 100000}},
        {"music_peak_db", {&musicPeakDb, 0, 100}},
        {"music_peak_share", {&musicPeakShare, 0, 1}},
        {"default_stmlength", {&defaultStmLength, 0, 3600}},
        {"default_mtslength", {&defaultMtsLength, 0, 3600}},
    };
    QHash<QString, bool> seen;
    QTextStream in(&file);
    int lineNumber = 0;
    while (!in.atEnd()) {
        ++lineNumber;
        QString line = in.readLine();
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = line.left(eq).trimmed();
        if (eq < 0 || !keys.contains(name)) {
            error = QStringLiteral("%1 line %2: unknown entry \"%3\"").arg(path).arg(lineNumber).arg(line);
            return false;
        }
        bool ok = false;
        const double value = line.mid(eq + 1).trimmed().toDouble(&ok);
        const Key& key = keys[name];
        if (!ok || !std::isfinite(value) || value < key.min || value > key.max) {
            error = QStringLiteral("%1 line %2: bad value for %3").arg(path).arg(lineNumber).arg(name);
            return false;
        }
        *key.target = value;
        seen[name] = true;
    }
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (!seen.contains(it.key())) {
            error = QStringLiteral("%1: missing entry %2").arg(path, it.key());
            return false;
        }
    }
    toneGuardBins = int(guardBins);
    return true;
}
