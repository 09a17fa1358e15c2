// Times the saving of queue.xml with a long queue: the copy taken on the
// GUI thread (queuestore::take over a real queue manager) and the work the
// saver's thread does (building the XML and writing it through QSaveFile).
//
//   queuestorebench FOLDER [files (1000)] [runs (50)]
// Prints: files=N runs=N take_median_ms=X write_median_ms=X write_max_ms=X bytes=N
#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"

#include "timings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

using bench::elapsedMs;
using bench::median;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: queuestorebench FOLDER [files] [runs]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 50;
    QDir().mkpath(folder);

    QueueManager manager;
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.watchFolderPath = folder;
    options.postProcessing_Arguments = QStringLiteral("normOp00:-16");
    for (int i = 0; i < count; ++i) {
        const QString source = folder + QStringLiteral("/input file %1.wav").arg(i);
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.close();
        if (!manager.addFileToQueue(source, 100, source + QStringLiteral("-Speech.wav"), "1: Speech -16 LUFS", options))
            return 1;
    }

    const QString path = folder + QStringLiteral("/queue.xml");
    std::vector<double> takes;
    std::vector<double> writes;
    qint64 bytes = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<StoredFile> files = queuestore::take(manager);
        takes.push_back(elapsedMs(timer));
        timer.restart();
        const QByteArray text = queuestore::serialise(files);
        if (!queuestore::write(path, text))
            return 1;
        writes.push_back(elapsedMs(timer));
        bytes = text.size();
    }
    std::printf("files=%d runs=%d take_median_ms=%.3f write_median_ms=%.3f write_max_ms=%.3f bytes=%lld\n", count,
                runs, median(takes), median(writes), *std::max_element(writes.begin(), writes.end()),
                static_cast<long long>(bytes));
    return 0;
}
