#include "driver/folderscantick.h"
#include "driver/outputregistry.h"
#include "audiofixtures.h"
#include "pipeline/queuemanager.h"
#include "serviceprocess.h"
#include "settings/folderwatcher.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kSpeech = "1: Speech -16 LUFS";

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

// The folder scanner driven by change notification, against a queue manager
// logged in to the real service. After one first poll that records the
// folders, either only notifications drive the scans (no poll runs) or
// notification is off and only the poll does.
class TestFolderEvents : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void notifiedFilesAreQueuedWithoutAPoll_data();
    void notifiedFilesAreQueuedWithoutAPoll();
    void pollFindsFilesWithoutNotification();
    void watchedFolderBecomesIdle();
    void subfolderFilesKeepTheirSubfolderBelowTheOutput();

private:
    ScanPath& addFolder(const QString& name, const QString& output = QString());
    bool writeWav(const QString& path, double seconds = 0.3);
    // Opens the file, writes half, lets `pauseMs` pass with the file open
    // (the event loop runs), then writes the rest and closes it.
    bool writeSlowly(const QString& path, int pauseMs);
    QStringList queuedSources() const;

    ServiceProcess m_service{{QStringLiteral("--step-ms"), QStringLiteral("0")}};
    std::unique_ptr<QueueManager> m_queue;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<OutputRegistry> m_registry;
    std::unique_ptr<FolderScanTick> m_tick;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFolderEvents::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY2(m_service.start(), qPrintable(m_service.errorString()));
}

void TestFolderEvents::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<Settings>();
    m_queue = std::make_unique<QueueManager>();
    m_registry = std::make_unique<OutputRegistry>(m_settings.get());
    m_queue->setOnDestFileAdded([this](const QByteArray& dest) { m_registry->queue_newDestFileAdded(dest); });
    m_tick = std::make_unique<FolderScanTick>(m_settings.get(), m_queue.get(), nullptr, nullptr, nullptr);
    QVERIFY(m_queue->createSessions(m_service.apiUrl().toUtf8(), 1));
    m_queue->setCredentials(ServiceProcess::demoEmail().toUtf8(), ServiceProcess::demoPassword().toUtf8());
    QTRY_VERIFY_WITH_TIMEOUT((m_queue->cycle(false, false), !m_queue->presets().isEmpty()), 15000);
}

void TestFolderEvents::cleanup()
{
    m_tick.reset();
    if (m_queue)
        m_queue->stop();
    m_queue.reset();
}

ScanPath& TestFolderEvents::addFolder(const QString& name, const QString& output)
{
    QDir(m_dir->path()).mkpath(name);
    ScanPath folder;
    folder.path = native(m_dir->filePath(name));
    folder.outputPath = output.isEmpty() ? QString() : native(m_dir->filePath(output));
    folder.preset = kSpeech;
    m_settings->addScanPath(folder);
    return m_settings->scanPathRecords().last();
}

bool TestFolderEvents::writeWav(const QString& path, double seconds)
{
    fixtures::Signal signal;
    const QString full = m_dir->filePath(path);
    return QDir().mkpath(QFileInfo(full).absolutePath()) && fixtures::writeSine(full, seconds, 440.0, 0.5, signal);
}

bool TestFolderEvents::writeSlowly(const QString& path, int pauseMs)
{
    const QString staged = m_dir->filePath(QStringLiteral("staged.wav"));
    fixtures::Signal signal;
    QFile source(staged);
    QFile out(m_dir->filePath(path));
    if (!fixtures::writeSine(staged, 1.0, 440.0, 0.5, signal) || !source.open(QIODevice::ReadOnly)
        || !out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = source.readAll();
    const qsizetype half = bytes.size() / 2;
    if (out.write(bytes.left(half)) != half || !out.flush())
        return false;
    QTest::qWait(pauseMs);
    if (!m_queue->snapshot().isEmpty()) {
        qWarning() << "queued while still being written";
        return false;
    }
    return out.write(bytes.mid(half)) == bytes.size() - half;
}

QStringList TestFolderEvents::queuedSources() const
{
    QStringList sources;
    for (const QueueFile* file : m_queue->snapshot())
        sources.append(QString::fromUtf8(file->srcFile));
    sources.sort();
    return sources;
}

void TestFolderEvents::notifiedFilesAreQueuedWithoutAPoll_data()
{
    QTest::addColumn<bool>("slowly");
    QTest::newRow("written at once") << false;
    QTest::newRow("written slowly") << true;
}

void TestFolderEvents::notifiedFilesAreQueuedWithoutAPoll()
{
    QFETCH(bool, slowly);
    addFolder(QStringLiteral("in"));
    m_tick->tick();
    QVERIFY(m_tick->watcher().isWatched(native(m_dir->filePath(QStringLiteral("in")))));

    if (slowly)
        QVERIFY2(writeSlowly(QStringLiteral("in/take.wav"), 700), "a file still being written was queued");
    else
        QVERIFY(writeWav(QStringLiteral("in/take.wav")));
    // No poll from here on: only notifications and re-looks scan.
    QTRY_COMPARE_WITH_TIMEOUT(queuedSources(), QStringList{native(m_dir->filePath(QStringLiteral("in/take.wav")))},
                              10000);
    QVERIFY(writeWav(QStringLiteral("in/second.wav")));
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 2, 10000);
}

void TestFolderEvents::pollFindsFilesWithoutNotification()
{
    m_tick->watcher().setEnabled(false);
    addFolder(QStringLiteral("in"));
    m_tick->tick();
    QVERIFY(!m_tick->watcher().isWatched(native(m_dir->filePath(QStringLiteral("in")))));
    QVERIFY(writeWav(QStringLiteral("in/take.wav")));
    // Nothing notices the file until the poll runs.
    QTest::qWait(300);
    QVERIFY(m_queue->snapshot().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT((m_tick->tick(), m_queue->snapshot().size()), 1, 10000);
}

void TestFolderEvents::watchedFolderBecomesIdle()
{
    // Within the time stamps' margin after a change the poll still lists
    // the folder; afterwards a watched folder with nothing pending is left
    // alone until it reports a change (the cost is in bench/scanner).
    addFolder(QStringLiteral("in"));
    QVERIFY(writeWav(QStringLiteral("in/first.wav")));
    m_tick->tick();
    QCOMPARE(m_queue->snapshot().size(), 1);
    const ScanPath& folder = m_settings->scanPathRecords().first();
    QVERIFY(!folder.hasUnsettledFiles());
    QTRY_VERIFY_WITH_TIMEOUT((m_tick->tick(), folder.listingIsCurrent()), 10000);
    QVERIFY(m_tick->watcher().isWatched(folder.path));
    QVERIFY(!m_tick->watcher().hasChanged(folder.path));
    QCOMPARE(m_queue->snapshot().size(), 1);
}

void TestFolderEvents::subfolderFilesKeepTheirSubfolderBelowTheOutput()
{
    // The output folder lies inside the watched tree.
    ScanPath& folder = addFolder(QStringLiteral("in"), QStringLiteral("in/results"));
    folder.recursive = true;
    QVERIFY(writeWav(QStringLiteral("in/results/earlier-result.wav")));
    m_tick->tick();
    QVERIFY(m_queue->snapshot().isEmpty());

    QVERIFY(writeWav(QStringLiteral("in/live/day1/take.wav")));
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 1, 10000);
    const QueueFile* queued = m_queue->snapshot().first();
    const QString result = native(m_dir->filePath(QStringLiteral("in/results/live/day1/take-1_ Speech -16 LUFS.wav")));
    QCOMPARE(QString::fromUtf8(queued->destFile), result);
    QVERIFY(QFileInfo(QFileInfo(result).absolutePath()).isDir());

    // Results written there are never input, also once complete.
    QVERIFY(writeWav(QStringLiteral("in/results/live/day1/take-1_ Speech -16 LUFS.wav")));
    QVERIFY(writeWav(QStringLiteral("in/results/other.wav")));
    QVERIFY(writeWav(QStringLiteral("in/live/day1/take2.wav")));
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 2, 10000);
    for (int i = 0; i < 5; ++i)
        m_tick->tick();
    QCOMPARE(queuedSources(), (QStringList{native(m_dir->filePath(QStringLiteral("in/live/day1/take.wav"))),
                                           native(m_dir->filePath(QStringLiteral("in/live/day1/take2.wav")))}));
}

QTEST_MAIN(TestFolderEvents)
#include "tst_folderevents.moc"
