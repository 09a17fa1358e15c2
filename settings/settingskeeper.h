#pragma once

#include "settings/latestjobthread.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class Settings;

// Keeps settings.xml up to date while the client runs, so that what the
// folder scanner records about seen files survives a client that is killed
// instead of ended: twice a second, on the GUI thread, it copies the
// settings (cheap: the records are shared, not copied) and hands the copy to
// its own thread, which builds the text and writes it, through QSaveFile,
// only when it differs from what the file holds. A copy whose records are
// still shared with the last one written and whose other values read the
// same is passed over without building the text, so that many seen files
// cost nothing while nothing changes. The format is the one
// Settings::save writes; with resetOnRestart set the file is left empty, as
// at exit. The owner saves once more at exit after destroying the keeper,
// whose destructor lets the last copy be written first.
class SettingsKeeper final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsKeeper)

public:
    static constexpr int kIntervalMs = 500;

    // `beforeCopy` (may be empty) runs on the GUI thread before each copy,
    // for values the settings take from elsewhere at saving time.
    SettingsKeeper(Settings& settings, QString path, std::function<void()> beforeCopy = {});
    ~SettingsKeeper() override;

    void start();
    // Hands over a copy now and waits until it is written (or found equal).
    void saveNow();
    // Times the file was written; for tests.
    int writes() const;

private:
    void check();
    // On the keeper's thread.
    void writeIfChanged(const std::shared_ptr<const Settings>& copy);
    bool sameAsLastWritten(const Settings& copy) const;
    static QByteArray textDigest(const QByteArray& text);

    Settings& m_settings;
    const QString m_path;
    const std::function<void()> m_beforeCopy;
    QTimer m_timer;
    // Used on the keeper's thread only (jobs run one after the other).
    // A digest of what the file holds, not the text: with many seen files
    // the text runs to megabytes, kept for as long as the client runs.
    QByteArray m_onDiskDigest;
    bool m_onDiskKnown = false;
    std::shared_ptr<const Settings> m_lastWritten;
    QByteArray m_lastWrittenValues;
    std::atomic<int> m_writes{0};
    // Last: destroyed first, so its last job still finds the members above.
    LatestJobThread m_thread;
};
