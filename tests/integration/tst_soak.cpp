#include "pipelinefixture.h"
#include "serviceprocess.h"

#include "audiofixtures.h"
#include "pipeline/queuemanager.h"
#include "pipeline/webapi.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace pipelinefixture;

namespace {

constexpr int kSessions = 4;
constexpr double kTargetLufs = -16.0;
const QByteArray kPreset = "1: Speech -16 LUFS";

int setting(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QByteArray md5Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return hash.result().toHex();
}

} // namespace

// The fault soak: files through four sessions against a service that meets
// random faults (--chaos) and is killed and started again on the same port
// part-way through. Sizes come from the environment, so that scripts/soak
// runs the long version of the same test:
//   SONVIRA_SOAK_FILES (40), SONVIRA_SOAK_PERCENT (10), SONVIRA_SOAK_SEED (1),
//   SONVIRA_SOAK_MINUTES (3, the time every file has to end).
class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void filesSurviveFaultsAndARestart();

private:
    bool startService(quint16 port, int seed, int percent);
    // Every file has ended, each Error with a message.
    QString checkFinalStates(const QList<QueueFile*>& files) const;
    QString checkResult(const QueueFile& file, const QString& source) const;

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    QByteArray m_logs;
};

// A service started again keeps numbering its jobs where the first one's
// ids could not reach, as a service that keeps its jobs would: a client
// still polling an old job gets "no such job", never another file's job.
bool TestSoak::startService(quint16 port, int seed, int percent)
{
    const int firstJobId = m_service ? 1000000 : 1;
    if (m_service)
        m_logs += m_service->log();
    m_service = std::make_unique<ServiceProcess>(QStringList{
        "--step-ms", "0", "--workers", "4", "--chaos", QStringLiteral("%1:%2").arg(seed).arg(percent), "--port",
        QString::number(port), "--first-job-id", QString::number(firstJobId)});
    return m_service->start();
}

QString TestSoak::checkFinalStates(const QList<QueueFile*>& files) const
{
    for (const QueueFile* file : files) {
        const QueueFileState state = file->getState();
        if (state != QueueFileState::Done && state != QueueFileState::Error)
            return "not ended: " + QString::fromUtf8(file->toString());
        if (state == QueueFileState::Error && file->errorMessage().isEmpty())
            return "an error without a message: " + QString::fromUtf8(file->toString());
    }
    return {};
}

// A Done result is the whole processed audio: as long as its source, with
// the preset's loudness.
QString TestSoak::checkResult(const QueueFile& file, const QString& source) const
{
    std::vector<float> result;
    std::vector<float> original;
    int rate = 0;
    int channels = 0;
    int sourceRate = 0;
    int sourceChannels = 0;
    const QString path = QString::fromUtf8(file.destFile);
    if (!fixtures::readAudio(path, result, rate, channels) || !fixtures::readAudio(source, original, sourceRate, sourceChannels))
        return "cannot read " + path;
    if (result.size() != original.size() || rate != sourceRate || channels != sourceChannels)
        return QStringLiteral("%1: %2 samples at %3 Hz, its source %4 at %5 Hz")
            .arg(path).arg(result.size()).arg(rate).arg(original.size()).arg(sourceRate);
    const double lufs = fixtures::integratedLoudness(path);
    if (!(std::abs(lufs - kTargetLufs) < 0.5))
        return QStringLiteral("%1: %2 LUFS").arg(path).arg(lufs);
    return {};
}

void TestSoak::filesSurviveFaultsAndARestart()
{
    const int fileCount = setting("SONVIRA_SOAK_FILES", 40);
    const int percent = setting("SONVIRA_SOAK_PERCENT", 10);
    const int seed = setting("SONVIRA_SOAK_SEED", 1);
    const int minutes = setting("SONVIRA_SOAK_MINUTES", 3);
    QDir root(m_dir.path());
    QVERIFY(root.mkpath("in") && root.mkpath("out"));

    // Sources of several lengths and levels; their hashes, to prove they stay.
    QHash<const QueueFile*, QString> sourceOf;
    QMap<QString, QByteArray> hashes;
    QList<QString> sources;
    for (int i = 0; i < fileCount; ++i) {
        fixtures::Signal signal;
        signal.channels = 1 + i % 2;
        const QString path = root.filePath(QStringLiteral("in/take %1.wav").arg(i));
        QVERIFY(fixtures::writeSine(path, 1.0 + 0.25 * (i % 4), 220.0 + 20 * i, 0.05 + 0.01 * (i % 5), signal));
        hashes.insert(path, md5Of(path));
        sources.append(path);
    }

    QVERIFY2(startService(0, seed, percent), qPrintable(m_service->errorString()));
    const quint16 port = m_service->port();
    WebAPI::invalidateToken(QString(), true);
    // Below the longest chaos stall, so some stalls end the request.
    WebAPI::setStallTimeout(2500);
    QueueManager manager;
    manager.setCredentials(ServiceProcess::demoEmail().toUtf8(), ServiceProcess::demoPassword().toUtf8());
    QVERIFY(manager.createSessions(m_service->apiUrl().toUtf8(), kSessions));
    QList<QueueFile*> files;
    for (const QString& source : sources) {
        QueueFile* file = manager.addFileToQueue(source, 10, root.filePath("out/" + QFileInfo(source).completeBaseName()
                                                                          + " - result.wav"),
                                                 kPreset, ProcessingOptions());
        QVERIFY2(file, manager.lastError().constData());
        files.append(file);
        sourceOf.insert(file, source);
    }

    const auto ended = [&files] {
        return int(std::count_if(files.begin(), files.end(), [](const QueueFile* file) {
            const QueueFileState state = file->getState();
            return state == QueueFileState::Done || state == QueueFileState::Error;
        }));
    };
    bool restarted = false;
    const bool allEnded = driveUntil(manager, [&] {
        if (!restarted && ended() >= fileCount / 3) {
            m_service->kill();
            restarted = true;
            if (!startService(port, seed + 1, percent))
                qWarning() << "the service did not start again:" << m_service->errorString();
        }
        return ended() == fileCount;
    }, minutes * 60000);
    m_logs += m_service->log();
    manager.stop();
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
    QVERIFY2(restarted, "the service was never restarted");
    QVERIFY2(m_service->isRunning(), "the restarted service ended");
    const QString states = checkFinalStates(files);
    QVERIFY2(allEnded && states.isEmpty(), qPrintable(states));

    for (auto it = hashes.cbegin(); it != hashes.cend(); ++it)
        QVERIFY2(md5Of(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    QVERIFY2(partialFiles(root.filePath("in")).isEmpty() && partialFiles(root.filePath("out")).isEmpty(),
             "a partial download was left behind");

    // Exactly the Done files' results are in the output folder: no result
    // written twice, nothing under a final name that is not a whole result.
    QStringList expected;
    QMap<QByteArray, int> errors;
    for (const QueueFile* file : std::as_const(files)) {
        if (file->getState() == QueueFileState::Error) {
            errors[file->errorMessage().left(60)] += 1;
            continue;
        }
        expected.append(QFileInfo(QString::fromUtf8(file->destFile)).fileName());
        const QString problem = checkResult(*file, sourceOf.value(file));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    expected.sort();
    QCOMPARE(QDir(root.filePath("out")).entryList(QDir::Files, QDir::Name), expected);

    qInfo("soak: %d files, %d done, %d in error, service restarted once, %d requests, %d faults (%d%%, seed %d)",
          fileCount, int(expected.size()), fileCount - int(expected.size()), countLogLines(m_logs, " -> "),
          countLogLines(m_logs, "[chaos:"), percent, seed);
    for (const char* fault : {"stall", "expired token", "connection dropped after the upload", "415", "failed job",
                              "result cut off"})
        qInfo("soak: fault \"%s\": %d", fault, countLogLines(m_logs, QByteArray("[chaos: ") + fault + "]"));
    for (auto it = errors.cbegin(); it != errors.cend(); ++it)
        qInfo("soak: error \"%s\": %d", it.key().constData(), it.value());
    QVERIFY2(!expected.isEmpty(), "no file reached Done");
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
