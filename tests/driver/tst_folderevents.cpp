#include "scanfixture.h"

#include "audiofixtures.h"
#include "settings/folderwatcher.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

// The folder scanner without a window, against a queue manager logged in
// to the real service: quick adds with the folder's options, refusals,
// and the scans that change notification drives. After one first poll that
// records the folders, either only notifications drive the scans (no poll
// runs) or notification is off and only the poll does.
class TestFolderEvents : public QObject, private ScanFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nothingHappensWithoutPresets();
    void quickAddQueuesWithTheFolderOptions();
    void refusalsAreReportedOncePerTick();
    void notifiedFilesAreQueuedWithoutAPoll_data();
    void notifiedFilesAreQueuedWithoutAPoll();
    void pollFindsFilesWithoutNotification();
    void watchedFolderBecomesIdle();
    void subfolderFilesKeepTheirSubfolderBelowTheOutput();

private:
    // Opens the file, writes half, lets `pauseMs` pass with the file open
    // (the event loop runs), then writes the rest and closes it.
    bool writeSlowly(const QString& path, int pauseMs);
    QStringList queuedSources() const;
    // Every scan is then a tick called by the test: no change notification.
    void handTicksOnly() { m_tick->watcher().setEnabled(false); }
};

void TestFolderEvents::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(startService());
}

void TestFolderEvents::init()
{
    setUp();
    makeTick();
    if (QByteArray(QTest::currentTestFunction()) != "nothingHappensWithoutPresets")
        QVERIFY(logIn());
}

void TestFolderEvents::cleanup()
{
    tearDown();
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

void TestFolderEvents::nothingHappensWithoutPresets()
{
    handTicksOnly();
    addFolder(QStringLiteral("in"));
    writeWav(QStringLiteral("in/take.wav"));
    const FolderScanTick::Outcome outcome = m_tick->tick();
    QVERIFY(outcome.added.isEmpty() && outcome.refusals.isEmpty());
    QVERIFY(m_settings->scanPaths().first().scannedFiles.isEmpty());
    QVERIFY(m_queue->snapshot().isEmpty());
}

void TestFolderEvents::quickAddQueuesWithTheFolderOptions()
{
    handTicksOnly();
    // Results go into the watched folder itself.
    ScanPath& folder = addFolder(QStringLiteral("in"));
    folder.encodeToMP3 = true;
    ScanPath& disabled = addFolder(QStringLiteral("off"));
    disabled.enabled = false;
    const QString take = writeWav(QStringLiteral("in/take.wav"));
    writeWav(QStringLiteral("off/ignored.wav"));

    FolderScanTick::Outcome outcome = tickRead();
    QCOMPARE(outcome.added, QStringList{take});
    QVERIFY(outcome.refusals.isEmpty());
    QCOMPARE(m_queued, QList<QStringList>{{take}});
    QList<QueueFile*> queued = m_queue->snapshot();
    QCOMPARE(queued.size(), 1);
    const QString result = native(QStringLiteral("in/take-1_ Speech -16 LUFS.wav"));
    QCOMPARE(queued[0]->srcFile, take.toUtf8());
    QCOMPARE(queued[0]->destFile, result.toUtf8());
    QCOMPARE(queued[0]->presetName, kSpeech);
    QCOMPARE(queued[0]->priority, 100);
    QCOMPARE(queued[0]->watchFolder, native(QStringLiteral("in")).toUtf8());
    QVERIFY(queued[0]->options.fromWatchFolder);
    QVERIFY(queued[0]->options.encodeToMP3);
    QVERIFY(m_settings->scanPaths()[1].scannedFiles.isEmpty());

    // The result is not written yet: its placeholder stays while the file
    // is queued. Once written, it is not taken for new input.
    QVERIFY(tickRead().added.isEmpty());
    QFile::copy(take, result);
    QVERIFY(tickRead().added.isEmpty());
    QCOMPARE(m_queue->snapshot().size(), 1);
    const QList<ScannedFile> known = m_settings->scanPaths()[0].scannedFiles;
    QCOMPARE(known.size(), 2);
    QVERIFY(!known[1].isPlaceholder());

    // A deleted source is forgotten and, written again, queued again.
    QVERIFY(QFile::remove(take));
    tickRead();
    QCOMPARE(m_settings->scanPaths()[0].scannedFiles.size(), 1);
    writeWav(QStringLiteral("in/take.wav"));
    QCOMPARE(tickRead().added, QStringList{take});
    QCOMPARE(m_queue->snapshot().size(), 2);
}

void TestFolderEvents::refusalsAreReportedOncePerTick()
{
    handTicksOnly();
    addFolder(QStringLiteral("in"), QStringLiteral("missing"));
    const QString a = writeWav(QStringLiteral("in/a.wav"));
    const QString b = writeWav(QStringLiteral("in/b.wav"));
    const FolderScanTick::Outcome outcome = tickRead();
    QCOMPARE(m_refusals.size(), 1);
    QCOMPARE(m_refusals.first().size(), 2);
    for (const QString& file : {a, b})
        QVERIFY(m_refusals.first().contains(file + QStringLiteral(": Destination directory does not exist.")));
    QVERIFY(outcome.added.isEmpty());
    QVERIFY(m_queued.isEmpty());

    // Refused files stay recorded as seen: no second report.
    QVERIFY(tickRead().refusals.isEmpty());
    QCOMPARE(m_refusals.size(), 1);
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
    QVERIFY(m_tick->watcher().isWatched(native(QStringLiteral("in"))));

    if (slowly)
        QVERIFY2(writeSlowly(QStringLiteral("in/take.wav"), 700), "a file still being written was queued");
    else
        QVERIFY(!writeWav(QStringLiteral("in/take.wav")).isEmpty());
    // No poll from here on: only notifications and re-looks scan.
    QTRY_COMPARE_WITH_TIMEOUT(queuedSources(), QStringList{native(QStringLiteral("in/take.wav"))},
                              10000);
    QVERIFY(!writeWav(QStringLiteral("in/second.wav")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 2, 10000);
}

void TestFolderEvents::pollFindsFilesWithoutNotification()
{
    handTicksOnly();
    addFolder(QStringLiteral("in"));
    m_tick->tick();
    QVERIFY(!m_tick->watcher().isWatched(native(QStringLiteral("in"))));
    QVERIFY(!writeWav(QStringLiteral("in/take.wav")).isEmpty());
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
    QVERIFY(!writeWav(QStringLiteral("in/first.wav")).isEmpty());
    tickRead();
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
    QVERIFY(!writeWav(QStringLiteral("in/results/earlier-result.wav")).isEmpty());
    m_tick->tick();
    QVERIFY(m_queue->snapshot().isEmpty());

    QVERIFY(!writeWav(QStringLiteral("in/live/day1/take.wav")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 1, 10000);
    const QueueFile* queued = m_queue->snapshot().first();
    const QString result = native(QStringLiteral("in/results/live/day1/take-1_ Speech -16 LUFS.wav"));
    QCOMPARE(QString::fromUtf8(queued->destFile), result);
    QVERIFY(QFileInfo(QFileInfo(result).absolutePath()).isDir());

    // Results written there are never input, also once complete.
    QVERIFY(!writeWav(QStringLiteral("in/results/live/day1/take-1_ Speech -16 LUFS.wav")).isEmpty());
    QVERIFY(!writeWav(QStringLiteral("in/results/other.wav")).isEmpty());
    QVERIFY(!writeWav(QStringLiteral("in/live/day1/take2.wav")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->snapshot().size(), 2, 10000);
    for (int i = 0; i < 5; ++i)
        m_tick->tick();
    QCOMPARE(queuedSources(), (QStringList{native(QStringLiteral("in/live/day1/take.wav")),
                                           native(QStringLiteral("in/live/day1/take2.wav"))}));
}

QTEST_MAIN(TestFolderEvents)
#include "tst_folderevents.moc"
