#include "headless/queuelisting.h"

#include "headless/headlessfrontend.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuestore.h"

#include <QFile>

#include <iostream>

namespace headless {

int listQueue()
{
    const QString path = queuestore::defaultPath();
    QFile file(path);
    if (!file.exists())
        return 0;
    QList<StoredFile> files;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !queuestore::parse(file.readAll(), files, error)) {
        std::cerr << "Cannot read " << path.toLocal8Bit().constData() << ": "
                  << (error.isEmpty() ? file.errorString() : error).toLocal8Bit().constData() << std::endl;
        return 1;
    }
    for (const StoredFile& stored : std::as_const(files)) {
        const QByteArray source = stored.originalSourceFile.isEmpty() ? stored.srcFile : stored.originalSourceFile;
        QString line = QString::fromUtf8(QueueFile::stateName(stored.state)) + QStringLiteral(": ") + QString::fromUtf8(source);
        if (stored.state == QueueFileState::Error)
            line += QStringLiteral(": ") + QString::fromUtf8(stored.errorMessage);
        HeadlessFrontEnd::log(line);
    }
    return 0;
}

} // namespace headless
