// Times the main window's queue tick on the GUI thread with a long queue:
// a real window with the dark style sheet and a queue manager without
// sessions, so the background cycle does nothing and only the window's own
// work is measured.
//
//   queuebench [files (500)] [ticks (300)]
// The idle tick: a few files are Running and change their progress text on
// every tick, as files do while the service works on them; the rest wait.
// Each sample is one tick plus the events it posted (layout requests), so
// deferred layout work is counted too.
// Prints: files=N ticks=N first_ms=X median_ms=X p90_ms=X max_ms=X
//
//   queuebench --appear [files (500)]
// Files that arrive at once (one watched-folder scan), with the window
// driven by its own timers. A zero-interval timer fires whenever the GUI
// thread's event loop is free; the longest gap between two of its firings is
// the longest stretch the window could not react. The run ends when every
// file has a visible panel. The same two figures are also given in the
// process's CPU time, which a loaded machine does not stretch (the window's
// thread does nearly all of the process's work here).
// Prints: files=N longest_stall_ms=X all_shown_ms=X longest_stall_cpu_ms=X all_shown_cpu_ms=X
#include "app/mainwindow.h"
#include "app/queuefilewidget.h"
#include "driver/account.h"
#include "driver/queuedriver.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"
#include "settings/processingoptions.h"
#include "settings/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const int kRunningFiles = 4;
const int kGiveUpMs = 60000;

// The window, its manager and the queued files, as main builds them.
struct Bench {
    QTemporaryDir dir;
    Settings settings;
    QueueManager manager;
    Account account{settings, manager};
    MainWindow window;

    Bench()
    {
        window.setContext(settings, manager, account);
        // Each run starts with an empty queue, not with the last run's.
        QFile::remove(queuestore::defaultPath());
        window.initialise();
        window.resize(900, 700);
        window.show();
    }
    ~Bench() { manager.stop(); }

    bool queue(int count, std::vector<QueueFile*>& files)
    {
        for (int i = 0; i < count; ++i) {
            const QString source = dir.filePath(QStringLiteral("take %1.wav").arg(i));
            QFile(source).open(QIODevice::WriteOnly);
            QueueFile* file = manager.addFileToQueue(
                source, 10, dir.filePath(QStringLiteral("take %1 - Speech.wav").arg(i)), "1: Speech",
                ProcessingOptions());
            if (!file) {
                std::fprintf(stderr, "queuebench: could not queue %s\n", qPrintable(source));
                return false;
            }
            files.push_back(file);
        }
        return true;
    }
};

double tickMs(MainWindow& window)
{
    QElapsedTimer clock;
    clock.start();
    window.queueDriver().queueTick();
    QCoreApplication::sendPostedEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

int idleTick(int fileCount, int tickCount)
{
    Bench bench;
    std::vector<QueueFile*> files;
    if (!bench.queue(fileCount, files))
        return 1;
    for (int i = 0; i < kRunningFiles && i < fileCount; ++i)
        files[size_t(i)]->setState(QueueFileState::Running);
    // Until every panel exists: the tick creates them in batches.
    double first = 0;
    while (int(bench.window.findChildren<QueueFileWidget*>().size()) < fileCount)
        first += tickMs(bench.window);

    std::vector<double> samples;
    for (int tick = 0; tick < tickCount; ++tick) {
        for (int i = 0; i < kRunningFiles && i < fileCount; ++i)
            files[size_t(i)]->setDetails(QByteArray("Processing ") + QByteArray::number(tick % 100) + "%");
        samples.push_back(tickMs(bench.window));
    }
    std::printf("files=%d ticks=%d first_ms=%.2f median_ms=%.3f p90_ms=%.3f max_ms=%.2f\n", fileCount, tickCount, first,
                percentile(samples, 0.5), percentile(samples, 0.9), *std::max_element(samples.begin(), samples.end()));
    return 0;
}

double cpuMs()
{
    return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC;
}

int visiblePanels(const MainWindow& window)
{
    const QList<QueueFileWidget*> panels = window.findChildren<QueueFileWidget*>();
    return int(std::count_if(panels.begin(), panels.end(), [](const QueueFileWidget* panel) {
        return panel->isVisible();
    }));
}

int appear(int fileCount)
{
    Bench bench;
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = cpuMs();
    std::vector<QueueFile*> files;
    if (!bench.queue(fileCount, files))
        return 1;

    qint64 lastFree = clock.elapsed();
    qint64 longestStall = 0;
    double lastFreeCpu = cpuMs();
    double longestStallCpu = 0;
    QTimer free;
    QObject::connect(&free, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const double nowCpu = cpuMs();
        longestStall = std::max(longestStall, now - lastFree);
        longestStallCpu = std::max(longestStallCpu, nowCpu - lastFreeCpu);
        lastFree = now;
        lastFreeCpu = nowCpu;
    });
    free.start(0);
    qint64 allShownMs = -1;
    double allShownCpuMs = -1;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (visiblePanels(bench.window) >= fileCount) {
            allShownMs = clock.elapsed();
            allShownCpuMs = cpuMs() - cpuStart;
        }
        if (allShownMs >= 0 || clock.elapsed() > kGiveUpMs)
            QCoreApplication::quit();
    });
    check.start(20);
    QCoreApplication::exec();
    std::printf("files=%d longest_stall_ms=%lld all_shown_ms=%lld longest_stall_cpu_ms=%.1f all_shown_cpu_ms=%.0f\n",
                fileCount, longestStall, allShownMs, longestStallCpu, allShownCpuMs);
    return allShownMs < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qSetMessagePattern(QStringLiteral("%{message}"));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool appearMode = !args.isEmpty() && args.first() == QLatin1String("--appear");
    if (appearMode)
        args.removeFirst();
    const int fileCount = args.size() > 0 ? args.at(0).toInt() : 500;
    const int tickCount = args.size() > 1 ? args.at(1).toInt() : 300;

    QFile style(QStringLiteral(":/css/dark-style.css"));
    if (style.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(style.readAll()));
    return appearMode ? appear(fileCount) : idleTick(fileCount, tickCount);
}
