#pragma once

#include <QByteArray>
#include <QString>

namespace settingsxml {

// One watched folder: where its results go and the suffix of their names.
struct WatchedFolder {
    QString path;
    QString outputPath;
    QString outputSuffix;
};

// A settings.xml without the welcome wizard and with one enabled watched
// folder, queued without a dialog with "1: Speech -16 LUFS" and each result
// normalised to -20 dB RMS. Given a service address, the demo user's
// password is remembered for it; otherwise no account is stored.
QByteArray oneWatchedFolder(const WatchedFolder& folder, const QString& apiUrl = {});

} // namespace settingsxml
