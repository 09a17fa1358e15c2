#include "app/destinationcheck.h"

#include <QCoreApplication>
#include <QFileInfo>

QByteArray destinationRefusal(const QString& destination)
{
    const QFileInfo folder(QFileInfo(destination).absolutePath());
    if (folder.isDir() && !folder.isWritable())
        return QCoreApplication::translate("MainWindow", "The destination folder is not writable.").toUtf8();
    return QByteArray();
}

QByteArray droppedFolderRefusal()
{
    return QCoreApplication::translate("MainWindow", "is a folder, not an audio file.").toUtf8();
}
