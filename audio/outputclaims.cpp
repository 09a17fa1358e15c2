#include "audio/outputclaims.h"

#include "settings/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

namespace outputclaims {

namespace {

QMutex& claimsLock()
{
    static QMutex lock;
    return lock;
}

// Guarded by claimsLock().
QSet<QString>& claimedKeys()
{
    static QSet<QString> keys;
    return keys;
}

constexpr int kMaxCounter = 9999;

} // namespace

QString claim(const QString& desired)
{
    const QString native = QDir::toNativeSeparators(desired);
    const QMutexLocker locker(&claimsLock());
    QSet<QString>& keys = claimedKeys();
    if (!keys.contains(platform::pathKey(native))) {
        keys.insert(platform::pathKey(native));
        return native;
    }
    const QFileInfo info(QDir::fromNativeSeparators(desired));
    for (int counter = 1; counter <= kMaxCounter; ++counter) {
        const QString next = QDir::toNativeSeparators(
            QStringLiteral("%1/%2 (%3).%4")
                .arg(info.absolutePath(), info.completeBaseName(), QString::number(counter), info.suffix()));
        const QString key = platform::pathKey(next);
        if (keys.contains(key) || QFileInfo::exists(QDir::fromNativeSeparators(next)))
            continue;
        keys.insert(key);
        return next;
    }
    return QString();
}

void release(const QString& path)
{
    if (path.isEmpty())
        return;
    const QMutexLocker locker(&claimsLock());
    claimedKeys().remove(platform::pathKey(path));
}

} // namespace outputclaims
