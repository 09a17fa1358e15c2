#pragma once

#include "presetcatalog.h"

#include <QString>
#include <functional>

// Runs one preset over a file and writes the result as a WAV. Progress is
// reported as a fraction from 0 to 1; when the callback returns false the
// work stops and process() fails.
class PresetProcessor {
public:
    using Progress = std::function<bool(double fraction)>;

    PresetProcessor(const Preset& preset, Progress progress);

    bool process(const QString& input, const QString& output);
    const QString& error() const { return error_; }

private:
    bool copyFile(const QString& input, const QString& output);
    bool transcode(const QString& input, const QString& output);

    Preset preset_;
    Progress progress_;
    QString error_;
};
