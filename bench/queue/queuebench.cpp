// Times the main window's queue tick on the GUI thread with a long queue:
// a real window with the dark style sheet and a queue manager without
// sessions, so the background cycle does nothing and only the tick's own
// work is measured. A few files are Running and change their progress text
// on every tick, as files do while the service works on them; the rest
// wait. Each sample is one tick plus the events it posted (layout
// requests), so deferred layout work is counted too.
//   queuebench [files (500)] [ticks (300)]
// Prints: files=N ticks=N first_ms=X median_ms=X p90_ms=X max_ms=X
#include "app/mainwindow.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/processingoptions.h"
#include "settings/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kRunningFiles = 4;

double tickMs(MainWindow& window)
{
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(&window, "tmr_queueManager_Tick");
    QCoreApplication::sendPostedEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

} // namespace

int main(int argc, char* argv[])
{
    qSetMessagePattern(QStringLiteral("%{message}"));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int fileCount = args.size() > 1 ? args.at(1).toInt() : 500;
    const int tickCount = args.size() > 2 ? args.at(2).toInt() : 300;

    QFile style(QStringLiteral(":/css/dark-style.css"));
    if (style.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(style.readAll()));

    QTemporaryDir dir;
    Settings settings;
    QueueManager manager;
    MainWindow window;
    window.setContext(&settings, &manager);
    window.initialise();
    window.resize(900, 700);
    window.show();

    std::vector<QueueFile*> files;
    for (int i = 0; i < fileCount; ++i) {
        const QString source = dir.filePath(QStringLiteral("take %1.wav").arg(i));
        QFile(source).open(QIODevice::WriteOnly);
        QueueFile* file = manager.addFileToQueue(source, 10, dir.filePath(QStringLiteral("take %1 - Speech.wav").arg(i)),
                                                 "1: Speech", ProcessingOptions());
        if (!file) {
            std::fprintf(stderr, "queuebench: could not queue %s\n", qPrintable(source));
            return 1;
        }
        files.push_back(file);
    }
    for (int i = 0; i < kRunningFiles && i < fileCount; ++i)
        files[size_t(i)]->setState(QueueFileState::Running);
    const double first = tickMs(window);

    std::vector<double> samples;
    for (int tick = 0; tick < tickCount; ++tick) {
        for (int i = 0; i < kRunningFiles && i < fileCount; ++i)
            files[size_t(i)]->setDetails(QByteArray("Processing ") + QByteArray::number(tick % 100) + "%");
        samples.push_back(tickMs(window));
    }
    std::printf("files=%d ticks=%d first_ms=%.2f median_ms=%.3f p90_ms=%.3f max_ms=%.2f\n", fileCount, tickCount, first,
                percentile(samples, 0.5), percentile(samples, 0.9), *std::max_element(samples.begin(), samples.end()));
    manager.stop();
    return 0;
}
