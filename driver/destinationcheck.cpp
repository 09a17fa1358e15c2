#include "driver/destinationcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

void makeDestinationFolder(const QString& root, const QString& destination)
{
    if (QFileInfo(root).isDir())
        QDir().mkpath(QFileInfo(destination).absolutePath());
}

QByteArray droppedFolderRefusal()
{
    return QCoreApplication::translate("MainWindow", "is a folder, not an audio file.").toUtf8();
}
