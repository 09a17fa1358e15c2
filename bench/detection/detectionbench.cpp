// Times how long a file written into a watched folder takes to reach the
// service: from the close of the file to the end of its upload request
// (POST /Jobs) as the service's request log reports it, the time the
// service spent on the answer taken off. The real main window with its
// timers runs the folder, the queue and the session.
//   detectionbench URL SERVICE_LOG FOLDER FILES events|poll
// Prints "median_ms X" and "p90_ms Y".
#include "driver/account.h"
#include "driver/folderscantick.h"
#include "app/mainwindow.h"
#include "audio/audiolibrary.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"
#include "settings/folderwatcher.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// One second of a 48 kHz stereo tone, different for every file.
bool writeTake(const QString& path, int n)
{
    audiolib::StreamInfo info;
    info.sampleRate = 48000;
    info.channels = 2;
    info.format = audiolib::SampleFormat::Int16;
    std::vector<qint16> block(96000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = qint16((int(i) * (31 + n)) % 16000 - 8000);
    audiolib::WavWriter writer;
    return writer.open(path.toUtf8(), info, audiolib::WavFormat::Pcm16)
        && writer.write(block.data(), qint64(block.size() * sizeof(qint16))) && writer.close();
}

// The service's answer times of the upload requests logged so far.
QList<int> uploadLines(const QString& logPath)
{
    static const QRegularExpression upload(QStringLiteral(R"(^POST /api/Jobs -> .*, (\d+) ms$)"));
    QList<int> answerMs;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return answerMs;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QRegularExpressionMatch match = upload.match(QString::fromUtf8(line));
        if (match.hasMatch())
            answerMs.append(match.captured(1).toInt());
    }
    return answerMs;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: detectionbench URL SERVICE_LOG FOLDER FILES events|poll\n");
        return 2;
    }
    const QByteArray url = argv[1];
    const QString serviceLog = QString::fromLocal8Bit(argv[2]);
    const QString root = QDir(QString::fromLocal8Bit(argv[3])).absolutePath();
    const int count = QByteArray(argv[4]).toInt();
    const bool events = QByteArray(argv[5]) == "events";
    const QString watched = root + QStringLiteral("/watched");
    const QString staging = root + QStringLiteral("/staging");
    if (!QDir().mkpath(watched) || !QDir().mkpath(staging) || !QDir().mkpath(root + QStringLiteral("/out"))) {
        std::fprintf(stderr, "cannot make the folders\n");
        return 1;
    }

    Settings settings;
    settings.wUsername = "demo@sonvira.local";
    settings.wPassword = "demo";
    settings.showFirstTime_AddWatchFolderDialog = false;
    QueueManager manager;
    if (!manager.createSessions(url, 1)) {
        std::fprintf(stderr, "no session\n");
        return 1;
    }
    Account account(settings, manager);
    auto window = std::make_unique<MainWindow>();
    window->setContext(settings, manager, account);
    // Each run starts with an empty queue, not with the last run's.
    QFile::remove(queuestore::defaultPath());
    window->initialise();
    if (!QTest::qWaitFor([&] { return !manager.presets().isEmpty(); }, 20000)) {
        std::fprintf(stderr, "log-in failed\n");
        return 1;
    }
    window->folderScanTick()->watcher().setEnabled(events);
    ScanPath folder;
    folder.path = QDir::toNativeSeparators(watched);
    folder.outputPath = QDir::toNativeSeparators(root + QStringLiteral("/out"));
    folder.preset = manager.presets().first();
    settings.addScanPath(folder);
    // The first poll records the (empty) folder and starts watching it.
    QTest::qWait(1500);

    std::vector<double> latencies;
    for (int n = 0; n < count; ++n) {
        const QString staged = staging + QStringLiteral("/take-%1.wav").arg(n);
        if (!writeTake(staged, n)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(staged));
            return 1;
        }
        QFile source(staged);
        source.open(QIODevice::ReadOnly);
        const QByteArray bytes = source.readAll();
        const qsizetype before = uploadLines(serviceLog).size();
        // Different moments within the poll's second.
        QTest::qWait(137 * (n % 7) + 50);
        QFile target(watched + QStringLiteral("/take-%1.wav").arg(n));
        if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot copy into the folder\n");
            return 1;
        }
        target.close();
        QElapsedTimer sinceClose;
        sinceClose.start();
        QList<int> lines;
        const QDeadlineTimer deadline(20000);
        while ((lines = uploadLines(serviceLog)).size() <= before && !deadline.hasExpired())
            QTest::qWait(5);
        if (lines.size() <= before) {
            std::fprintf(stderr, "file %d was not uploaded\n", n);
            return 1;
        }
        latencies.push_back(double(sinceClose.elapsed() - lines.last()));
    }
    std::printf("median_ms %.0f\np90_ms %.0f\n", percentile(latencies, 0.5), percentile(latencies, 0.9));
    window.reset();
    manager.stop();
    return 0;
}
