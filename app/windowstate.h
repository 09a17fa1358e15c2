#pragma once

#include <QByteArray>
#include <QString>

// What the main window remembers between runs: its geometry, the tab shown
// last and the folder of the last file added by hand. Kept in its own file
// beside settings.xml (whose layout other tools read), written whole or not
// at all: a crash leaves the old file or the new one.
class WindowState final {
public:
    // windowstate.json in the configuration folder of settings.xml.
    static QString defaultPath();

    // False when the file is missing or unreadable; what it lacks keeps its default.
    bool load(const QString& path);
    bool save(const QString& path) const;

    // QWidget::saveGeometry's bytes; empty at the first start.
    QByteArray geometry;
    // The finished-files tab ("Done") unless another was shown last.
    int tab = 0;
    // Empty: the user's home folder.
    QString addFolder;
};
