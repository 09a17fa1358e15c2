// The main window's event loop while files arrive:
//   stallbench URL FOLDER big MEGABYTES
//   stallbench URL FOLDER copy COUNT [SECONDS]
//   stallbench URL FOLDER queue COUNT [SECONDS]
// URL is a running sonvira-service. The real window, logged in, watches
// FOLDER (without the new-files dialog). A 5 ms timer on the GUI thread
// measures how late each of its runs comes.
//   big: a writer thread copies a WAV of MEGABYTES into FOLDER (the final
//     header first, then the samples in 1 MiB blocks, as a copier writes),
//     measured until the file is queued and its digest recorded.
//   copy: a writer thread copies COUNT short WAVs into FOLDER at once.
//   queue: COUNT short WAVs outside the watched folder are queued through
//     the driver's command in one call, as a drop of that many files does
//     once the new-files dialog is accepted.
// copy and queue are measured until every file is queued and has its
// panel (the arrival), then while the batch runs, until every file is
// finished or SECONDS (default 30) have passed since the arrival.
// Prints "name value" lines: stall_max_ms, stall_p99_ms, ticks and times in
// seconds from the first block or file (written_s, queued_s, recorded_s for
// big; queued_s, shown_s, done_s, finished, batch_max_ms, batch_p99_ms,
// batch_ticks for copy and queue).
#include "app/mainwindow.h"
#include "app/queuefilewidget.h"
#include "driver/account.h"
#include "driver/queuecommands.h"
#include "driver/queuedriver.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kTimerMs = 5;
constexpr qint64 kBlockBytes = 1024 * 1024;
// A short file: one second of 48 kHz 16-bit stereo.
constexpr qint64 kShortBytes = 48000 * 4;

QByteArray wavHeader(quint32 dataBytes)
{
    QByteArray header("RIFF....WAVEfmt ");
    qToLittleEndian<quint32>(36 + dataBytes, header.data() + 4);
    const quint32 fmt[] = {16, 0x00020001, 48000, 48000 * 4, 0x00100004};
    for (quint32 value : fmt) {
        char bytes[4];
        qToLittleEndian<quint32>(value, bytes);
        header.append(bytes, 4);
    }
    header.append("data", 4);
    char size[4];
    qToLittleEndian<quint32>(dataBytes, size);
    return header.append(size, 4);
}

bool writeWav(const QString& path, qint64 dataBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(wavHeader(quint32(dataBytes))) != 44)
        return false;
    QByteArray block(kBlockBytes, '\0');
    for (qint64 written = 0; written < dataBytes; written += block.size()) {
        for (qsizetype i = 0; i < block.size(); i += 4096)
            block[i] = char(written / kBlockBytes + i);
        const qint64 size = std::min<qint64>(block.size(), dataBytes - written);
        if (file.write(block.constData(), size) != size)
            return false;
    }
    return true;
}

// COUNT short WAVs named take0000.wav..., each with its own samples.
bool writeShortWavs(const QString& folder, int count)
{
    for (int i = 0; i < count; ++i) {
        QFile file(folder + QStringLiteral("/take%1.wav").arg(i, 4, 10, QLatin1Char('0')));
        QByteArray samples(kShortBytes, '\0');
        for (qsizetype at = 0; at < samples.size(); at += 512)
            samples[at] = char(i + at / 512);
        if (!file.open(QIODevice::WriteOnly) || file.write(wavHeader(quint32(kShortBytes)) + samples) != 44 + kShortBytes)
            return false;
    }
    return true;
}

// Runs the event loop as the application does (QTest::qWaitFor sleeps
// between its rounds, which a probe would count as lateness) until
// `done` holds or `timeoutMs` have passed; whether `done` held.
bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    if (!done())
        loop.exec();
    return done();
}

bool recorded(Settings& settings, const QString& path)
{
    for (const ScannedFile& entry : std::as_const(settings.scanPathRecords().first().scannedFiles)) {
        if (entry.filePath == path && !entry.MD5.isEmpty())
            return true;
    }
    return false;
}

bool queued(QueueManager& manager, const QString& path)
{
    for (const QueueFile* file : manager.snapshot()) {
        if (QString::fromUtf8(file->srcFile) == path)
            return true;
    }
    return false;
}

int finishedCount(QueueManager& manager)
{
    int finished = 0;
    for (const QueueFile* file : manager.snapshot()) {
        const QueueFileState state = file->getState();
        finished += state == QueueFileState::Done || state == QueueFileState::Error ? 1 : 0;
    }
    return finished;
}

// How late each run of a 5 ms timer came.
class StallProbe {
public:
    explicit StallProbe(const QElapsedTimer& clock) : m_clock(clock)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTimerMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            if (m_last >= 0)
                m_late.push_back(std::max<qint64>(0, now - m_last - kTimerMs));
            m_last = now;
            if (m_onRun)
                m_onRun(now);
        });
    }
    void start(std::function<void(qint64)> onRun)
    {
        m_onRun = std::move(onRun);
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    // Starts a new series of measurements (the next phase).
    std::vector<qint64> take()
    {
        std::vector<qint64> late;
        late.swap(m_late);
        std::sort(late.begin(), late.end());
        return late;
    }

private:
    const QElapsedTimer& m_clock;
    QTimer m_timer;
    qint64 m_last = -1;
    std::vector<qint64> m_late;
    std::function<void(qint64)> m_onRun;
};

void printStalls(const char* prefix, const std::vector<qint64>& late)
{
    std::printf("%smax_ms %lld\n", prefix, late.empty() ? 0LL : late.back());
    std::printf("%sp99_ms %lld\n", prefix, late.empty() ? 0LL : late[late.size() * 99 / 100]);
    std::printf("%sticks %lld\n", prefix, qint64(late.size()));
}

int bigFile(QElapsedTimer& clock, StallProbe& probe, Settings& settings, QueueManager& manager, const QString& folder,
            qint64 dataBytes)
{
    const QString path = folder + QStringLiteral("/take.wav");
    qint64 queuedMs = -1;
    qint64 recordedMs = -1;
    std::atomic<qint64> writtenMs{-1};
    clock.start();
    probe.start([&](qint64 now) {
        if (queuedMs < 0 && queued(manager, path))
            queuedMs = now;
        if (recordedMs < 0 && recorded(settings, path))
            recordedMs = now;
    });
    std::atomic<bool> writeFailed{false};
    std::thread writer([&] {
        writeFailed = !writeWav(path, dataBytes);
        writtenMs = clock.elapsed();
    });
    const bool done = runUntil([&] { return writeFailed || (queuedMs >= 0 && recordedMs >= 0); }, 600000);
    probe.stop();
    writer.join();
    QFile::remove(path);
    if (writeFailed || !done) {
        std::fprintf(stderr, writeFailed ? "cannot write the file\n" : "the file was not taken in time\n");
        return 1;
    }
    printStalls("stall_", probe.take());
    std::printf("written_s %.2f\n", writtenMs / 1000.0);
    std::printf("queued_s %.2f\n", queuedMs / 1000.0);
    std::printf("recorded_s %.2f\n", recordedMs / 1000.0);
    return 0;
}

// Many files at once, copied into the watched folder or queued by command.
int manyFiles(QElapsedTimer& clock, StallProbe& probe, MainWindow& window, QueueManager& manager,
              const QString& folder, bool copy, int count, int batchSeconds)
{
    const QString staging = folder + QStringLiteral("-staging");
    if (!copy && (!QDir().mkpath(staging + QStringLiteral("/out")) || !writeShortWavs(staging, count))) {
        std::fprintf(stderr, "cannot write the files\n");
        return 1;
    }
    qint64 queuedMs = -1;
    qint64 shownMs = -1;
    qint64 doneMs = -1;
    int runs = 0;
    clock.start();
    probe.start([&](qint64 now) {
        // The panels and the finished files are counted now and then:
        // walking them costs the event loop time too.
        ++runs;
        if (queuedMs < 0 && manager.snapshot().size() >= count)
            queuedMs = now;
        if (queuedMs >= 0 && shownMs < 0 && runs % 10 == 0
            && window.findChildren<QueueFileWidget*>().size() >= count)
            shownMs = now;
        if (shownMs >= 0 && doneMs < 0 && runs % 20 == 0 && finishedCount(manager) >= count)
            doneMs = now;
    });
    std::atomic<bool> writeFailed{false};
    std::thread writer;
    if (copy) {
        writer = std::thread([&] { writeFailed = !writeShortWavs(folder, count); });
    } else {
        QTimer::singleShot(0, &window, [&] {
            QList<FileRequest> requests;
            for (int i = 0; i < count; ++i) {
                const QString name = QStringLiteral("take%1").arg(i, 4, 10, QLatin1Char('0'));
                requests.append({staging + QLatin1Char('/') + name + QStringLiteral(".wav"),
                                 staging + QStringLiteral("/out/") + name + QStringLiteral(" - {presetName}.wav"),
                                 QStringLiteral("4: Passthrough"), ProcessingOptions()});
            }
            writeFailed = !window.queueDriver().commands().queueFiles(requests).isEmpty();
        });
    }
    const bool arrived = runUntil([&] { return writeFailed || shownMs >= 0; }, 600000);
    const std::vector<qint64> arrival = probe.take();
    if (arrived && !writeFailed)
        runUntil([&] { return doneMs >= 0; }, batchSeconds * 1000);
    probe.stop();
    const std::vector<qint64> batch = probe.take();
    if (writer.joinable())
        writer.join();
    if (writeFailed || !arrived) {
        std::fprintf(stderr, writeFailed ? "cannot write or queue the files\n" : "the files were not taken in time\n");
        return 1;
    }
    printStalls("stall_", arrival);
    std::printf("queued_s %.2f\n", queuedMs / 1000.0);
    std::printf("shown_s %.2f\n", shownMs / 1000.0);
    std::printf("done_s %.2f\n", doneMs < 0 ? -1.0 : doneMs / 1000.0);
    std::printf("finished %d\n", finishedCount(manager));
    printStalls("batch_", batch);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QByteArray mode = argc > 3 ? QByteArray(argv[3]) : QByteArray();
    if (argc < 5 || (mode != "big" && mode != "copy" && mode != "queue")) {
        std::fprintf(stderr, "usage: stallbench URL FOLDER big MEGABYTES | stallbench URL FOLDER copy|queue COUNT "
                             "[SECONDS]\n");
        return 2;
    }
    const QByteArray url = argv[1];
    const QString folder = QDir::toNativeSeparators(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    const qint64 amount = QByteArray(argv[4]).toLongLong();
    const int batchSeconds = argc > 5 ? QByteArray(argv[5]).toInt() : 30;
    if (!QDir().mkpath(folder + QStringLiteral("/out"))) {
        std::fprintf(stderr, "cannot make the folder\n");
        return 1;
    }

    Settings settings;
    QueueManager manager;
    Account account(settings, manager);
    settings.showFirstTime_AddWatchFolderDialog = false;
    settings.wUsername = "demo@sonvira.local";
    settings.wPassword = "demo";
    settings.parallelJobs = mode == "big" ? 1 : QueueManager::kMaxSessions;
    ScanPath watched;
    watched.path = folder;
    watched.outputPath = folder + QStringLiteral("/out");
    watched.preset = "4: Passthrough";
    settings.addScanPath(watched);
    if (!manager.createSessions(url, settings.parallelJobs)) {
        std::fprintf(stderr, "no sessions\n");
        return 1;
    }
    MainWindow window;
    window.setContext(settings, manager, account);
    window.initialise();
    window.show();
    if (!QTest::qWaitFor([&] { return manager.state() == QueueManager::Running && !manager.presets().isEmpty(); },
                         20000)) {
        std::fprintf(stderr, "log-in failed\n");
        return 1;
    }
    // Start-up settles: the first scans, the presets.
    QTest::qWait(1000);

    QElapsedTimer clock;
    StallProbe probe(clock);
    const int result = mode == "big"
        ? bigFile(clock, probe, settings, manager, folder, amount * 1024 * 1024)
        : manyFiles(clock, probe, window, manager, folder, mode == "copy", int(amount), batchSeconds);
    std::fflush(stdout);
    return result;
}
