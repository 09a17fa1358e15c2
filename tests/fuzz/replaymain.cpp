// Replays a harness's seed corpus through its entry point, without
// libFuzzer, so that the normal test suite catches a regression. A crash or
// a sanitizer report fails the test; so does an empty corpus.
#include "fuzzentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv)
{
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(SONVIRA_FUZZ_CORPUS);
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    int replayed = 0;
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(info.filePath()));
            return 1;
        }
        const QByteArray data = file.readAll();
        std::fprintf(stderr, "replaying %s\n", qPrintable(info.fileName()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
        ++replayed;
    }
    std::printf("%d corpus files replayed from %s\n", replayed, qPrintable(folder));
    return replayed > 0 ? 0 : 1;
}
