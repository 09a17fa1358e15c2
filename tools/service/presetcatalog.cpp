#include "presetcatalog.h"

PresetCatalog::PresetCatalog()
    : presets_{
          {1, "Speech -16 LUFS", 80.0, -16.0, -1.0},
          {2, "Music -14 LUFS", 0.0, -14.0, -1.0},
          {3, "Broadcast -23 LUFS", 0.0, -23.0, -1.0},
          {4, "Passthrough", 0.0, std::nullopt, 0.0},
      }
{
}

const Preset* PresetCatalog::find(int id) const
{
    for (const Preset& preset : presets_) {
        if (preset.id == id)
            return &preset;
    }
    return nullptr;
}
