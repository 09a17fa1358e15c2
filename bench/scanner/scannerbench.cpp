// Times the main window's folder-scanner tick on the GUI thread for one
// watched folder holding FILES known WAV files and no new one:
//   scannerbench URL FOLDER FILES ROUNDS
// URL is a running sonvira-service (the tick does nothing without presets).
// Prints four lines of "name median_ms":
//   tick_unchanged   the tick while the folder has not changed, change
//                    notification on (the folder is watched)
//   tick_unchanged_poll_only  the same with change notification off
//   tick_changed     the tick after a non-audio file in the folder changed,
//                    so the folder is listed again
//   plain_listing    QDir::entryList of the folder's WAV files, the floor of
//                    any scanner that lists the folder every time
#include "driver/folderscantick.h"
#include "audio/audiolibrary.h"
#include "pipeline/queuemanager.h"
#include "settings/folderwatcher.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Short mono files, each with its own content.
bool makeFiles(const QString& folder, int count)
{
    audiolib::StreamInfo info;
    info.sampleRate = 48000;
    info.channels = 1;
    info.format = audiolib::SampleFormat::Int16;
    std::vector<qint16> block(1024);
    for (int n = 0; n < count; ++n) {
        const QString path = QStringLiteral("%1/take-%2.wav").arg(folder).arg(n, 5, 10, QLatin1Char('0'));
        if (QFile::exists(path))
            continue;
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = qint16((n * 7919 + int(i) * 31) % 20000 - 10000);
        audiolib::WavWriter writer;
        if (!writer.open(path.toUtf8(), info, audiolib::WavFormat::Pcm16)
            || !writer.write(block.data(), qint64(block.size() * sizeof(qint16))) || !writer.close())
            return false;
    }
    return true;
}

bool logIn(QueueManager& manager, const QByteArray& url)
{
    if (!manager.createSessions(url, 1))
        return false;
    manager.setCredentials("demo@sonvira.local", "demo");
    const QDeadlineTimer deadline(20000);
    while (manager.presets().isEmpty() && !deadline.hasExpired()) {
        manager.cycle(false, false);
        QThread::msleep(50);
    }
    return !manager.presets().isEmpty();
}

double medianMs(int rounds, const std::function<void()>& before, const std::function<void()>& timed)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        before();
        QElapsedTimer timer;
        timer.start();
        timed();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: scannerbench URL FOLDER FILES ROUNDS\n");
        return 2;
    }
    const QByteArray url = argv[1];
    const QString folderPath = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    const int count = QByteArray(argv[3]).toInt();
    const int rounds = QByteArray(argv[4]).toInt();
    if (!QDir().mkpath(folderPath) || !makeFiles(folderPath, count)) {
        std::fprintf(stderr, "cannot make the files\n");
        return 1;
    }

    QueueManager manager;
    if (!logIn(manager, url)) {
        std::fprintf(stderr, "log-in failed\n");
        return 1;
    }
    Settings settings;
    ScanPath folder;
    folder.path = QDir::toNativeSeparators(folderPath);
    folder.preset = manager.presets().first();
    settings.addScanPath(folder);
    FolderScanTick tick(&settings, &manager, nullptr, {}, {});

    // The first tick records every file; they would all be queued, so they
    // are recorded by a scan of the folder's own first.
    QStringList newFiles;
    QStringList vanished;
    settings.scanPathRecords().first().scan(false, newFiles, vanished);
    if (newFiles.size() != count) {
        std::fprintf(stderr, "expected %d new files, found %lld\n", count, qint64(newFiles.size()));
        return 1;
    }
    const QString marker = folderPath + QStringLiteral("/notes.txt");
    int changes = 0;
    auto touchFolder = [&] {
        // Removing and writing a file changes the folder's modification
        // time; a listing is trusted only well after the last change, so the
        // next tick lists the folder again.
        QFile::remove(marker);
        QFile note(marker);
        if (note.open(QIODevice::WriteOnly))
            note.write(QByteArray::number(++changes));
    };
    auto runTick = [&] {
        const FolderScanTick::Outcome outcome = tick.tick();
        if (!outcome.added.isEmpty() || !outcome.refusals.isEmpty())
            std::fprintf(stderr, "unexpected additions or errors\n");
    };

    const double changed = medianMs(rounds, touchFolder, runTick);
    // Let the folder's last change age past the listing's trust margin, and
    // the notifications of the changes arrive and be scanned.
    QThread::sleep(3);
    QCoreApplication::processEvents();
    tick.scanChanged();
    runTick();
    if (!tick.watcher().isWatched(folder.path)) {
        std::fprintf(stderr, "the folder is not watched\n");
        return 1;
    }
    const double unchanged = medianMs(rounds, [] {}, runTick);
    tick.watcher().setEnabled(false);
    const double unchangedPollOnly = medianMs(rounds, [] {}, runTick);
    const double listing = medianMs(rounds, [] {}, [&] {
        const QStringList files = QDir(folderPath).entryList({QStringLiteral("*.wav")}, QDir::Files);
        if (files.size() != count)
            std::fprintf(stderr, "listing found %lld files\n", qint64(files.size()));
    });
    if (!manager.snapshot().isEmpty() || settings.scanPaths().first().scannedFiles.size() != count) {
        std::fprintf(stderr, "the ticks changed the queue or the known files\n");
        return 1;
    }
    manager.stop();
    std::printf("tick_unchanged %.3f\ntick_unchanged_poll_only %.3f\ntick_changed %.3f\nplain_listing %.3f\n",
                unchanged, unchangedPollOnly, changed, listing);
    return 0;
}
