#include "driver/outputregistry.h"

#include "settings/platform.h"
#include "settings/settings.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

OutputRegistry::OutputRegistry(Settings* settings)
    : m_settings(settings)
{
}

void OutputRegistry::registerOutputInWatchedFolders(const QString& path) const
{
    if (!m_settings || path.isEmpty())
        return;
    const QString folder = QFileInfo(path).absolutePath();
    for (ScanPath& scanPath : m_settings->scanPathRecords()) {
        if (scanPath.coversFolder(folder))
            scanPath.notePlaceholder(path);
    }
}

void OutputRegistry::queue_newDestFileAdded(const QByteArray& destPath) const
{
    qDebug() << "queue_newDestFileAdded " << destPath;
    if (!m_settings)
        return;
    const QString path = QString::fromUtf8(destPath);
    for (ScanPath copy : m_settings->scanPaths()) {
        if (!copy.noteOwnOutput(path))
            continue;
        if (ScanPath* stored = m_settings->findScanPath(copy.path, copy.outputPath, copy.preset))
            stored->noteOwnOutput(path);
        else
            qDebug() << "queue_newDestFileAdded-error: " << copy.describe();
    }
}

bool OutputRegistry::reserveOutputFile(const QString& path)
{
    try {
        QFile file(path);
        // NewOnly: an existing file of that name is never truncated.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            qWarning() << file.errorString();
            return false;
        }
        file.close();
        const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                 | QFileDevice::ReadOther;
        if (!file.setPermissions(permissions)) {
            qWarning() << file.errorString();
            return false;
        }
        return true;
    } catch (...) {
        qWarning() << "An error occurred while creating the file or setting its permissions.";
        return false;
    }
}
