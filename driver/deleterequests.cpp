#include "driver/deleterequests.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

void DeleteRequests::add(const QString& path)
{
    const QMutexLocker locker(&lock);
    paths.append(path);
}

void DeleteRequests::tick(const std::function<bool(const QString&)>& inUse)
{
    const QMutexLocker locker(&lock);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString path = paths.at(i);
        if (QFileInfo::exists(path)) {
            if (inUse(path))
                continue;
            qDebug() << "File-remove: " << path;
            QFile::remove(path);
            continue;
        }
        qDebug() << "Request removed: " << path;
        paths.removeAt(i);
        return;
    }
}
