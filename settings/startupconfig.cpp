#include "settings/startupconfig.h"

#include "settings/naming.h"
#include "settings/settings.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#ifndef SONVIRA_DEFAULT_API_URL
#error "SONVIRA_DEFAULT_API_URL must be defined by the build"
#endif

namespace startup {

namespace {

QMutex& apiBaseUrlLock()
{
    static QMutex lock;
    return lock;
}

QByteArray& apiBaseUrlValue()
{
    static QByteArray value = QByteArrayLiteral(SONVIRA_DEFAULT_API_URL);
    return value;
}

} // namespace

QByteArray defaultApiBaseUrl()
{
    return QByteArrayLiteral(SONVIRA_DEFAULT_API_URL);
}

QByteArray apiBaseUrl()
{
    QMutexLocker locker(&apiBaseUrlLock());
    return apiBaseUrlValue();
}

void setApiBaseUrl(const QByteArray& url)
{
    QMutexLocker locker(&apiBaseUrlLock());
    apiBaseUrlValue() = url;
}

bool isValidUrl(const QByteArray& text)
{
    const QUrl url(QString::fromUtf8(text), QUrl::TolerantMode);
    return url.isValid() && !url.isRelative() && !url.scheme().isEmpty();
}

QByteArray readFirstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray content = file.readAll();
    const qsizetype end = content.indexOf('\n');
    return end < 0 ? content : content.left(end);
}

QByteArray readFirstTextLine(const QString& path)
{
    QByteArray line = readFirstLine(path);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool applyHostOverride(const QString& hostFile)
{
    const QByteArray line = readFirstTextLine(hostFile);
    if (line.isEmpty() || !isValidUrl(line)) {
        qInfo().noquote() << "Failed to read the first line or file is empty (host.txt).";
        return false;
    }
    qInfo().noquote().nospace() << "Read from host.txt: " << QString::fromUtf8(line);
    setApiBaseUrl(line);
    return true;
}

QString settingsFilePath()
{
    return naming::appConfigFolder() + QStringLiteral("/settings.xml");
}

QString versionUrlFilePath()
{
    return naming::expandExecutableFolder(QStringLiteral("{ExecutableFolder}/curversionurl.txt"));
}

void loadSettings(Settings& settings, const QString& settingsPath)
{
    // A missing or unreadable file leaves the defaults.
    settings.load(settingsPath.isEmpty() ? settingsFilePath() : settingsPath);
    // Always replaced: without the file there is no version check.
    settings.versionCheckUrl = readFirstTextLine(versionUrlFilePath());
    if (settings.apiURL.isEmpty() || !isValidUrl(settings.apiURL))
        settings.apiURL = apiBaseUrl();
    setApiBaseUrl(settings.apiURL);
}

} // namespace startup

