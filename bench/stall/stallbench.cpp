// The main window's event loop while a large WAV arrives in a watched folder:
//   stallbench URL FOLDER MEGABYTES
// URL is a running sonvira-service. The real window, logged in, watches
// FOLDER; a writer thread copies a WAV of MEGABYTES into it (the final header
// first, then the samples in 1 MiB blocks, as a copier writes). A 5 ms timer
// on the GUI thread measures how late each of its runs comes, from the
// first block until the file is queued and its digest recorded. Prints
// "name value" lines: stall_max_ms, stall_p99_ms, written_s, queued_s,
// recorded_s (seconds from the first block).
#include "app/mainwindow.h"
#include "driver/account.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kTimerMs = 5;
constexpr qint64 kBlockBytes = 1024 * 1024;

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: stallbench URL FOLDER MEGABYTES\n");
        return 2;
    }
    const QByteArray url = argv[1];
    const QString folder = QDir::toNativeSeparators(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    const qint64 dataBytes = QByteArray(argv[3]).toLongLong() * 1024 * 1024;
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
    ScanPath watched;
    watched.path = folder;
    watched.outputPath = folder + QStringLiteral("/out");
    watched.preset = "4: Passthrough";
    settings.addScanPath(watched);
    if (!manager.createSessions(url, 1)) {
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

    const QString path = folder + QStringLiteral("/take.wav");
    QElapsedTimer clock;
    std::vector<qint64> late;
    qint64 last = -1;
    qint64 queuedMs = -1;
    qint64 recordedMs = -1;
    std::atomic<qint64> writtenMs{-1};
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kTimerMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0)
            late.push_back(std::max<qint64>(0, now - last - kTimerMs));
        last = now;
        if (queuedMs < 0 && queued(manager, path))
            queuedMs = now;
        if (recordedMs < 0 && recorded(settings, path))
            recordedMs = now;
    });
    clock.start();
    probe.start();
    std::atomic<bool> writeFailed{false};
    std::thread writer([&] {
        writeFailed = !writeWav(path, dataBytes);
        writtenMs = clock.elapsed();
    });
    const bool done = QTest::qWaitFor([&] { return writeFailed || (queuedMs >= 0 && recordedMs >= 0); }, 600000);
    probe.stop();
    writer.join();
    QFile::remove(path);
    if (writeFailed || !done) {
        std::fprintf(stderr, writeFailed ? "cannot write the file\n" : "the file was not taken in time\n");
        return 1;
    }
    std::sort(late.begin(), late.end());
    std::printf("stall_max_ms %lld\n", late.empty() ? 0LL : late.back());
    std::printf("stall_p99_ms %lld\n", late.empty() ? 0LL : late[late.size() * 99 / 100]);
    std::printf("ticks %lld\n", qint64(late.size()));
    std::printf("written_s %.2f\n", writtenMs / 1000.0);
    std::printf("queued_s %.2f\n", queuedMs / 1000.0);
    std::printf("recorded_s %.2f\n", recordedMs / 1000.0);
    std::fflush(stdout);
    return 0;
}
