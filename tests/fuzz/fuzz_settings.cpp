// settings.xml as the reader finds it on disk.
#include "fuzzentry.h"
#include "settings/settings.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.xml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(fuzzing::bytes(data, size));
    file.close();
    Settings settings;
    settings.load(path);
    for (const ScanPath& folder : settings.scanPaths())
        (void)folder.outputFolder();
    return 0;
}
