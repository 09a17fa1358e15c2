#pragma once

#include "settings/scanpath.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>

class QFile;
class QXmlStreamReader;

// The plain preferences of settings.xml: remembered login, addresses and
// program paths. Settings adds the watched folders.
struct SettingsValues {
    bool showFirstTime_AddWatchFolderDialog = true;
    bool hideWhenClosed = false;
    // Files processed at the same time: the number of service sessions, 1 to
    // kMaxParallelJobs; written only when not 1. Taken at start and when the
    // setup window is accepted.
    static constexpr int kMaxParallelJobs = 4;
    int parallelJobs = 1;
    bool resetOnRestart = false;
    bool rememberPassword = false;
    QByteArray defaultMp3BitRate = "160";
    QByteArray wUsername;
    QByteArray wPassword;
    // The remembered password is kept in the system keychain (or being
    // written there), so settings.xml writes no wPassword. Never persisted.
    bool passwordInKeychain = false;
    QByteArray versionText = "v0.9.9.6";
    bool showVersionInTitle = true;
    float versionNumber = 0.0996f;
    QByteArray versionCheckUrl;
    QByteArray webSiteUrl;
    QByteArray apiURL;
    QByteArray FFMPEGPath;
};

// The user's preferences, remembered login and watched folders, read from and
// written to settings.xml. Members are plain; the folder list has a lock.
class Settings : public SettingsValues {
public:
    Settings();
    // A copy to be written on another thread: the folder list is copied
    // under the other's lock, the records themselves are shared until
    // either side changes them.
    Settings(const Settings& other);
    Settings& operator=(const Settings&) = delete;

    // Reads settings.xml into this object, holding the lock throughout.
    // False only when the file cannot be opened. Reading stops at the first
    // XML error; whatever was read before it stays, the rest keeps its value.
    // Folders read are appended to the list, except one that the error cut
    // off before its path. A file that cannot be read whole is
    // first copied to "<path>.bad", so that nothing the user wrote is lost
    // when the settings are written again; loadError() then says where.
    bool load(const QString& path);
    // After load(): "line L, column C: <reason>" of the error that stopped
    // the reading, or "cannot be opened: <reason>" for a file that exists
    // but cannot be opened (nothing read, no copy made); empty when the
    // file was read whole or does not exist.
    QString loadError() const { return m_loadError; }
    // Writes settings.xml atomically (a crash never leaves half a file),
    // readable by the owner only on POSIX. With honourReset and
    // resetOnRestart set the file is left empty instead. False when the
    // file cannot be written; the old file then stays as it was.
    bool save(const QString& path, bool honourReset);
    // The text save() writes: settings.xml's elements in their order;
    // without records, the same without the folders' seen files.
    QByteArray toXml(bool withRecords = true) const;
    // Writes `text` as settings.xml: atomically and, on POSIX, readable by
    // the owner only. False (the old file kept) when it cannot.
    static bool writeFile(const QString& path, const QByteArray& text);

    void addScanPath(const ScanPath& scanPath);
    void renumberScanPaths();
    QList<ScanPath> scanPaths() const;
    // Pointers into the list; valid until the list is next changed.
    ScanPath* findScanPath(const QString& path, const QString& outputPath, const QByteArray& preset);
    ScanPath* findDialogScanPath(const QString& path);
    // The list becomes newList. A record whose id is stored already keeps
    // its scanned files, unless it now watches another folder: then it takes
    // newList's (files the user chose to leave alone).
    void replaceScanPaths(const QList<ScanPath>& newList);
    // The folder records themselves, for the folder scanner on the GUI thread.
    QList<ScanPath>& scanPathRecords() { return m_scanPaths; }

    // Whoever changes wUsername, wPassword or rememberPassword calls
    // loginChanged() afterwards, on the GUI thread; the listener (the
    // keychain's keeper) then brings the system keychain up to date. A copy
    // of the settings has no listener.
    void setLoginListener(std::function<void()> listener) { m_loginListener = std::move(listener); }
    void loginChanged() const;

private:
    // Reads the children of the Settings element; called with the lock held.
    void readSettingsElement(QXmlStreamReader& reader);
    static void keepUnreadableCopy(QFile& file);

    mutable QMutex m_lock;
    QList<ScanPath> m_scanPaths;
    QString m_loadError;
    std::function<void()> m_loginListener;
};
