#pragma once

#include "settings/scanpath.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

// The user's preferences, remembered login and watched folders, read from and
// written to settings.xml. Members are plain; the folder list has a lock.
class Settings {
public:
    bool showFirstTime_AddWatchFolderDialog = true;
    bool hideWhenClosed = false;
    bool resetOnRestart = false;
    bool rememberPassword = false;
    QByteArray defaultMp3BitRate = "160";
    QByteArray wUsername;
    QByteArray wPassword;
    QByteArray versionText = "v0.9.9.6";
    bool showVersionInTitle = true;
    float versionNumber = 0.0996f;
    QByteArray versionCheckUrl;
    QByteArray webSiteUrl;
    QByteArray apiURL;
    QByteArray FFMPEGPath;

    Settings();

    bool load(const QString& path);
    bool save(const QString& path, bool honourReset);

    void addScanPath(const ScanPath& scanPath);
    void renumberScanPaths();
    QList<ScanPath> scanPaths() const;
    // Pointers into the list; valid until the list is next changed.
    ScanPath* findScanPath(const QString& path, const QString& outputPath, const QByteArray& preset);
    ScanPath* findDialogScanPath(const QString& path);
    void replaceScanPaths(const QList<ScanPath>& newList);
    // The folder records themselves, for the folder scanner on the GUI thread.
    QList<ScanPath>& scanPathRecords() { return m_scanPaths; }

private:
    mutable QMutex m_lock;
    QList<ScanPath> m_scanPaths;
};
