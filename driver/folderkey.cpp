#include "driver/folderkey.h"

#include "settings/platform.h"

#include <QDir>
#include <QStringList>

FolderKeyParts splitFolderKey(const QString& key)
{
    const QStringList parts = key.split(QLatin1Char('\n'));
    if (parts.size() != 3)
        return {};
    return {QDir::fromNativeSeparators(parts.at(0)), QDir::fromNativeSeparators(parts.at(1)), parts.at(2).toUtf8()};
}

bool sameFolderKey(const QString& a, const QString& b)
{
    if (a.count(QLatin1Char('\n')) != 2 || b.count(QLatin1Char('\n')) != 2)
        return a.compare(b, Qt::CaseInsensitive) == 0;
    const FolderKeyParts x = splitFolderKey(a);
    const FolderKeyParts y = splitFolderKey(b);
    return platform::isSamePath(x.path, y.path) && platform::isSamePath(x.outputPath, y.outputPath)
        && QString::fromUtf8(x.preset).compare(QString::fromUtf8(y.preset), Qt::CaseInsensitive) == 0;
}
