#pragma once

#include <QList>
#include <QString>
#include <optional>

// One processing preset: an optional high-pass before an optional loudness
// normalisation; a preset with neither passes the audio through unchanged.
struct Preset {
    int id = 0;
    QString name;
    double highPassHz = 0;                  // 0 = no high-pass
    std::optional<double> targetLufs;       // empty = no normalisation
    double peakCeilingDb = -1.0;            // gain is limited so peaks stay below this

    bool isPassthrough() const { return highPassHz <= 0 && !targetLufs; }
};

// The presets the service offers, in the order GET /AudioPresets lists them.
class PresetCatalog {
public:
    PresetCatalog();

    const QList<Preset>& all() const { return presets_; }
    // Null when no preset has that id.
    const Preset* find(int id) const;

private:
    QList<Preset> presets_;
};
