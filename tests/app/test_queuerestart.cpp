// The real client's queue survives the client's end. Files of a watched
// folder are in several states (waiting, polled at the service, downloaded
// or being post-processed, done) when the client is killed with SIGKILL or
// ended with SIGTERM; started again with the same configuration, it finishes
// every file. The service's log must show exactly one upload per file, every
// result must be complete, and no work file may be left behind.
#include "clientprocess.h"
#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <functional>
#include <map>
#include <memory>

using namespace clientprocess;

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
// Distinct lengths give distinct upload sizes, so the service's log tells
// the files' uploads apart.
const double kSeconds[] = {1.0, 1.5, 2.0, 2.5, 3.0};
constexpr int kFileCount = int(sizeof kSeconds / sizeof kSeconds[0]);

int countMatches(const QByteArray& log, const QString& pattern)
{
    const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    int count = 0;
    for (auto it = expression.globalMatch(QString::fromUtf8(log)); it.hasNext(); it.next())
        ++count;
    return count;
}

qint64 framesOf(const QString& path)
{
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    if (!fixtures::readAudio(path, samples, rate, channels) || rate != kSampleRate || channels != kChannels)
        return -1;
    return qint64(samples.size()) / channels;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestQueueRestart : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void killedMidJob();
    void endedMidJob();

private:
    enum class Ending { Kill, Terminate };
    void runScenario(Ending ending);
    // Waits until `done` holds while the client runs; fails with `what` and
    // the client's log when the client ends or `ms` pass first.
    bool waitFor(ClientRun& client, const std::function<bool()>& done, int ms, const char* what);
    void end(ClientRun& client, Ending ending);
    bool allResultsComplete() const;
    bool queueFileEmpty() const;
    void checkOutcome() const;

    QString source(int i) const { return in() + QStringLiteral("/take%1.wav").arg(i); }
    // The service's result, normalised by post-processing, which removes
    // the intermediate result.
    QString result(int i) const { return out() + QStringLiteral("/take%1-done -20 dbrms.wav").arg(i); }
    QString in() const { return sandbox->path("work") + QStringLiteral("/in"); }
    QString out() const { return sandbox->path("work") + QStringLiteral("/out"); }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<ServiceProcess> service;
    std::map<QString, qint64> framesOfSource;
};

void TestQueueRestart::init()
{
    sandbox = std::make_unique<Sandbox>();
    // One job at a time, each held for a few seconds at the service, so that
    // the client can be stopped while one file is polled and others wait.
    service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "300", "--workers", "1"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
    QVERIFY(QDir().mkpath(in()));
    QVERIFY(QDir().mkpath(out()));
    framesOfSource.clear();
    for (int i = 0; i < kFileCount; ++i) {
        fixtures::Signal signal;
        signal.sampleRate = kSampleRate;
        signal.channels = kChannels;
        QVERIFY(fixtures::writeSine(source(i), kSeconds[i], 440 + 110 * i, 0.3, signal));
        framesOfSource[result(i)] = framesOf(source(i));
    }
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
}

void TestQueueRestart::cleanup()
{
    service.reset();
    sandbox.reset();
}

bool TestQueueRestart::waitFor(ClientRun& client, const std::function<bool()>& done, int ms, const char* what)
{
    return waitWhileRunning(client, done, ms, what, [this] {
        return QStringLiteral("The service's log:\n") + QString::fromUtf8(service->log())
            + QStringLiteral("\nWatched folder: ") + entriesOf(in()).join(QLatin1Char(' '))
            + QStringLiteral("\nOutput folder: ") + entriesOf(out()).join(QLatin1Char(' '))
            + QStringLiteral("\nqueue.xml:\n") + QString::fromUtf8(contentOf(sandbox->configFolder() + QStringLiteral("/queue.xml")));
    });
}

void TestQueueRestart::end(ClientRun& client, Ending ending)
{
    if (ending == Ending::Kill) {
        client.crash();
        QVERIFY(!client.running());
        return;
    }
    const int code = client.stop();
    QVERIFY2(code == 0, qPrintable(QStringLiteral("exit code %1; the client's log:\n%2").arg(code).arg(client.log())));
}

bool TestQueueRestart::allResultsComplete() const
{
    for (const auto& [path, frames] : framesOfSource) {
        if (framesOf(path) != frames)
            return false;
    }
    return true;
}

bool TestQueueRestart::queueFileEmpty() const
{
    const QByteArray queue = contentOf(sandbox->configFolder() + QStringLiteral("/queue.xml"));
    return queue.contains("<Queue") && !queue.contains("<File");
}

void TestQueueRestart::checkOutcome() const
{
    const QByteArray log = service->log();
    const QList<qint64> uploads = service->uploadSizes();
    QMap<qint64, int> uploadsPerSize;
    for (qint64 size : uploads)
        ++uploadsPerSize[size];
    QVERIFY2(uploads.size() == kFileCount && uploadsPerSize.size() == kFileCount,
             qPrintable(QStringLiteral("%1 uploads of %2 files; the service's log:\n%3")
                            .arg(uploads.size()).arg(kFileCount).arg(QString::fromUtf8(log))));
    QCOMPARE(countMatches(log, QStringLiteral("^POST /api/Jobs -> 200")), kFileCount);

    // Each source stays, and nothing else is left next to it.
    QStringList sources;
    for (int i = 0; i < kFileCount; ++i)
        sources << QFileInfo(source(i)).fileName();
    QCOMPARE(entriesOf(in()).join(QLatin1Char('|')), sources.join(QLatin1Char('|')));
    // Each file's result, complete; no second result, no work or part file.
    QStringList results;
    for (int i = 0; i < kFileCount; ++i)
        results << QFileInfo(result(i)).fileName();
    results.sort();
    QCOMPARE(entriesOf(out()).join(QLatin1Char('|')), results.join(QLatin1Char('|')));
}

void TestQueueRestart::runScenario(Ending ending)
{
    const auto jobPolls = [this](int job) {
        return countMatches(service->log(), QStringLiteral("^GET /api/Jobs/%1 -> 200").arg(job));
    };
    const auto results = [this] { return countMatches(service->log(), QStringLiteral("^GET /api/Jobs/\\d+/Result -> 200")); };
    // The client is stopped only while every job the service has handed out
    // is downloaded or on record in queue.xml. One stopped between an
    // upload's answer and its record cannot know that job and uploads the
    // file again; the client keeps that moment to a few milliseconds, which
    // a test polling every 20 ms would otherwise hit now and then.
    const auto uploadsOnRecord = [this, &results] {
        const int uploads = countMatches(service->log(), QStringLiteral("^POST /api/Jobs -> 200"));
        const QByteArray queue = contentOf(sandbox->configFolder() + QStringLiteral("/queue.xml"));
        return uploads == results() || queue.contains(QStringLiteral("jobId=\"%1\"").arg(uploads).toUtf8());
    };
    // Likewise for finished files: a result in place whose file queue.xml
    // still holds as unfinished would be made again after a restart.
    const auto resultsOnRecord = [this] {
        const QByteArray queue = contentOf(sandbox->configFolder() + QStringLiteral("/queue.xml"));
        for (int i = 0; i < kFileCount; ++i) {
            if (QFileInfo::exists(result(i)) && queue.contains(QFileInfo(source(i)).fileName().toUtf8()))
                return false;
        }
        return true;
    };
    {
        // The first file uploaded and polled, the others waiting.
        ClientRun first(*sandbox);
        if (!waitFor(first, [&] { return jobPolls(1) >= 2 && uploadsOnRecord(); }, 60000, "the first job polled twice"))
            return;
        end(first, ending);
    }
    QCOMPARE(countMatches(service->log(), QStringLiteral("^POST /api/Jobs")), 1);
    {
        // The first file done, the second downloaded and being post-processed.
        ClientRun second(*sandbox);
        if (!waitFor(second, [&] { return results() >= 2 && uploadsOnRecord() && resultsOnRecord(); }, 90000, "two results downloaded"))
            return;
        end(second, ending);
    }
    {
        ClientRun third(*sandbox);
        if (!waitFor(third, [&] { return allResultsComplete() && queueFileEmpty(); }, 120000,
                     "every file's result, and an empty queue.xml"))
            return;
        end(third, Ending::Terminate);
    }
    checkOutcome();
}

void TestQueueRestart::killedMidJob()
{
    runScenario(Ending::Kill);
}

void TestQueueRestart::endedMidJob()
{
    runScenario(Ending::Terminate);
}

QTEST_GUILESS_MAIN(TestQueueRestart)
#include "test_queuerestart.moc"
