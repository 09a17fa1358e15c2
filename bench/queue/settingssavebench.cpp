// Times keeping settings.xml up to date with many seen files: the copy the
// settings keeper takes on the GUI thread twice a second, and the work its
// thread does with it (building the text and writing it through QSaveFile).
//
//   settingssavebench FOLDER [records (10000)] [runs (50)]
// Prints: records=N runs=N copy_median_ms=X write_median_ms=X write_max_ms=X bytes=N
#include "settings/settings.h"

#include "timings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using bench::elapsedMs;
using bench::median;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: settingssavebench FOLDER [records] [runs]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 50;
    QDir().mkpath(folder);

    Settings settings;
    ScanPath watched;
    watched.path = folder + QStringLiteral("/in");
    watched.preset = "1: Speech -16 LUFS";
    for (int i = 0; i < count; ++i)
        watched.scannedFiles.append({watched.path + QStringLiteral("/recording %1.wav").arg(i), 1000000 + i,
                                     QByteArray("0123456789abcdef0123456789abcdef")});
    settings.addScanPath(watched);

    const QString path = folder + QStringLiteral("/settings.xml");
    std::vector<double> copies;
    std::vector<double> writes;
    qint64 bytes = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const Settings copy(settings);
        copies.push_back(elapsedMs(timer));
        timer.restart();
        const QByteArray text = copy.toXml();
        if (!Settings::writeFile(path, text))
            return 1;
        writes.push_back(elapsedMs(timer));
        bytes = text.size();
        // A new record, as the folder scanner adds one, so that every run
        // copies after a change.
        settings.scanPathRecords().first().scannedFiles.append({QStringLiteral("/new %1.wav").arg(run), 1, "x"});
    }
    std::printf("records=%d runs=%d copy_median_ms=%.3f write_median_ms=%.3f write_max_ms=%.3f bytes=%lld\n", count,
                runs, median(copies), median(writes), *std::max_element(writes.begin(), writes.end()),
                static_cast<long long>(bytes));
    return 0;
}
