#include "settings/settingskeeper.h"

#include "settings/platform.h"
#include "settings/settings.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <memory>
#include <utility>

SettingsKeeper::SettingsKeeper(Settings& settings, QString path, std::function<void()> beforeCopy)
    : m_settings(settings), m_path(std::move(path)), m_beforeCopy(std::move(beforeCopy))
{
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SettingsKeeper::check);
}

SettingsKeeper::~SettingsKeeper()
{
    m_timer.stop();
}

void SettingsKeeper::start()
{
    m_timer.start();
}

void SettingsKeeper::saveNow()
{
    check();
    m_thread.flush();
}

int SettingsKeeper::writes() const
{
    return m_writes;
}

void SettingsKeeper::check()
{
    if (m_beforeCopy)
        m_beforeCopy();
    auto copy = std::make_shared<const Settings>(m_settings);
    m_thread.post([this, copy] { writeIfChanged(copy); });
}

QByteArray SettingsKeeper::textDigest(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

bool SettingsKeeper::sameAsLastWritten(const Settings& copy) const
{
    if (!m_lastWritten || copy.resetOnRestart != m_lastWritten->resetOnRestart)
        return false;
    const QList<ScanPath> folders = copy.scanPaths();
    const QList<ScanPath> written = m_lastWritten->scanPaths();
    if (folders.size() != written.size())
        return false;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        // Any change to a list of records detaches it from the copy kept here.
        if (!folders.at(i).scannedFiles.isSharedWith(written.at(i).scannedFiles))
            return false;
    }
    return copy.toXml(false) == m_lastWrittenValues;
}

void SettingsKeeper::writeIfChanged(const std::shared_ptr<const Settings>& copy)
{
    if (sameAsLastWritten(*copy))
        return;
    if (!m_onDiskKnown) {
        QFile file(m_path);
        m_onDiskDigest = textDigest(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        m_onDiskKnown = true;
    }
    // The text of many seen files runs to megabytes: once it is freed (the
    // guard ends after it), its pages go back to the system.
    const auto releaseText = qScopeGuard([] { platform::releaseFreeMemory(); });
    const QByteArray text = copy->resetOnRestart ? QByteArray() : copy->toXml();
    const QByteArray digest = textDigest(text);
    if (digest != m_onDiskDigest || !QFile::exists(m_path)) {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        if (!Settings::writeFile(m_path, text)) {
            qWarning() << "Error saving settings";
            return;
        }
        m_onDiskDigest = digest;
        ++m_writes;
    }
    m_lastWritten = copy;
    m_lastWrittenValues = copy->toXml(false);
}
