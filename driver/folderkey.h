#pragma once

#include <QByteArray>
#include <QString>

// The parts of a watched folder's key: native path, line feed, native output
// path, line feed, preset.
struct FolderKeyParts {
    QString path;
    QString outputPath;
    QByteArray preset;
};

// Splits a folder key at its line feeds; anything but exactly three parts
// gives three empty texts. Paths come back with '/' separators.
FolderKeyParts splitFolderKey(const QString& key);
// Keys of the same folder: paths compared by path identity, the preset
// ignoring letter case.
bool sameFolderKey(const QString& a, const QString& b);
