#include "app/destinationcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QByteArray destinationRefusal(const QString& destination)
{
    const QFileInfo folder(QFileInfo(destination).absolutePath());
    if (folder.isDir() && !folder.isWritable())
        return QCoreApplication::translate("MainWindow", "The destination folder is not writable.").toUtf8();
    return QByteArray();
}

void makeDestinationFolder(const QString& root, const QString& destination)
{
    if (QFileInfo(root).isDir())
        QDir().mkpath(QFileInfo(destination).absolutePath());
}

QByteArray droppedFolderRefusal()
{
    return QCoreApplication::translate("MainWindow", "is a folder, not an audio file.").toUtf8();
}
