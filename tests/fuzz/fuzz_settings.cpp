// settings.xml as the reader finds it on disk.
#include "fuzzentry.h"
#include "settings/settings.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.xml"));
    // A new file each time: rewriting a truncated one makes ext4 flush it to
    // disk on close, and the fuzzer would spend its time waiting for that.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(fuzzing::bytes(data, size));
    file.close();
    Settings settings;
    settings.load(path);
    for (const ScanPath& folder : settings.scanPaths())
        (void)folder.outputFolder();
    return 0;
}
