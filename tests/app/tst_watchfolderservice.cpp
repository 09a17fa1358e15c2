#include "audiofixtures.h"
#include "settingsxml.h"
#include "windowtest.h"
#include "tests/dialogs/modalanswer.h"

#include "dialogs/dlgaddmultplefiles.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

// A watched folder set up only through settings.xml, end to end: the real
// main window and its timers, the real service, a WAV written into the
// folder by another program, the processed results next to it, and none of
// them taken for new input.
class TestWatchFolderService : public WindowTest {
    Q_OBJECT

public:
    TestWatchFolderService() : WindowTest(Start::AtLogIn) {}

private slots:
    void savedFileIsProcessedIntoTheFolderOnce();
    void droppedFilesGoThroughTheNewFilesDialog();

private:
    QString writeSettings(const QString& folder);
    bool writeSlowly(const QString& staged, const QString& target);
    bool allKnown(const QStringList& files) const;
};

// The folder's results go into the folder itself, normalised to one target
// besides the service's own result.
QString TestWatchFolderService::writeSettings(const QString& folder)
{
    const QString path = dir->filePath(QStringLiteral("settings.xml"));
    const QByteArray xml = settingsxml::oneWatchedFolder({folder, folder, QStringLiteral("-{presetName}")});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) < 0)
        return {};
    return path;
}

// Writes the file the way a recorder does: part of it, a pause with the
// file still open, then the rest.
bool TestWatchFolderService::writeSlowly(const QString& staged, const QString& target)
{
    QFile source(staged);
    QFile out(target);
    if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = source.readAll();
    const qsizetype half = bytes.size() / 2;
    if (out.write(bytes.left(half)) != half || !out.flush())
        return false;
    // Several scanner ticks see the half-written file: every one-second
    // timer of the window (the folder scanner's among them) fires three
    // times after its own slot has run.
    QList<int> ticks;
    // The connections end with this function, together with `ticks`.
    QObject counting;
    for (QTimer* timer : client->window->findChildren<QTimer*>()) {
        if (timer->interval() != 1000)
            continue;
        const qsizetype slot = ticks.size();
        ticks.append(0);
        connect(timer, &QTimer::timeout, &counting, [&ticks, slot] { ++ticks[slot]; });
    }
    const auto ticked = [&ticks] {
        return !ticks.isEmpty() && *std::min_element(ticks.begin(), ticks.end()) >= 3;
    };
    const bool scanned = QTest::qWaitFor(ticked, 15000);
    if (!scanned) {
        qWarning("the folder scanner did not tick three times within 15 s");
        return false;
    }
    if (!client->manager.snapshot().isEmpty())
        return false;
    return out.write(bytes.mid(half)) == bytes.size() - half;
}

bool TestWatchFolderService::allKnown(const QStringList& files) const
{
    const QList<ScannedFile> known = client->settings.scanPaths().first().scannedFiles;
    for (const QString& file : files) {
        const bool seen = std::any_of(known.cbegin(), known.cend(), [&](const ScannedFile& entry) {
            return entry.filePath == file && !entry.isPlaceholder();
        });
        if (!seen)
            return false;
    }
    return true;
}

void TestWatchFolderService::savedFileIsProcessedIntoTheFolderOnce()
{
    const QString folder = dir->filePath(QStringLiteral("watched"));
    QVERIFY(QDir().mkpath(folder));
    const QString settingsFile = writeSettings(folder);
    QVERIFY(client->settings.load(settingsFile));
    QCOMPARE(client->settings.scanPaths().size(), 1);
    const ScanPath loaded = client->settings.scanPaths().first();
    QCOMPARE(loaded.path, QDir::toNativeSeparators(folder));
    QCOMPARE(loaded.preset, QByteArray("1: Speech -16 LUFS"));
    QCOMPARE(loaded.postProcessing_Arguments, QStringLiteral("normOp00: -20 dBrms"));
    QVERIFY(loaded.enabled && !loaded.showDialog && loaded.scannedFiles.isEmpty());
    QVERIFY(startService());

    const QString staged = wav(QStringLiteral("staged.wav"), 2, 2.0);
    QVERIFY(!staged.isEmpty());
    const QString take = QDir::toNativeSeparators(folder + QStringLiteral("/take.wav"));
    QVERIFY2(writeSlowly(staged, take), "a file still being written was queued");

    QTRY_COMPARE_WITH_TIMEOUT(client->manager.snapshot().size(), 1, 10000);
    QueueFile* file = client->manager.snapshot().first();
    QCOMPARE(QString::fromUtf8(file->srcFile), take);
    QCOMPARE(QString::fromUtf8(file->watchFolder), QDir::toNativeSeparators(folder));
    QVERIFY(client->trayMessages.contains(QStringLiteral("Added to queue:take.wav\n")));
    QVERIFY2(QTest::qWaitFor([&] { return file->getState() == QueueFileState::Done; }, 60000),
             file->toString().constData());

    // The downloaded result was an intermediate file: only the normalised
    // output stays, under the folder's name for the result.
    QVERIFY(file->destFile.isEmpty());
    QCOMPARE(file->outputFiles.size(), 1);
    const QString output = QString::fromUtf8(file->outputFiles.first());
    QCOMPARE(output, QDir::toNativeSeparators(folder + QStringLiteral("/take-1_ Speech -16 LUFS -20 dbrms.wav")));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{QFileInfo(output).fileName(), QStringLiteral("take.wav")}));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(output, samples, rate, channels));
    QCOMPARE(channels, 2);
    const QStringList written{output};

    // Later scans record every result as a known file, and queue none.
    QTRY_VERIFY_WITH_TIMEOUT(allKnown(written), 10000);
    QCOMPARE(client->manager.snapshot().size(), 1);
    QCOMPARE(client->trayMessages.count(QStringLiteral("Added to queue:take.wav\n")), 1);
}

// Several files dropped on the window: one new-files dialog lists them all,
// and the accepted rows are queued next to their sources.
void TestWatchFolderService::droppedFilesGoThroughTheNewFilesDialog()
{
    QVERIFY(startService());
    const QString folder = dir->filePath(QStringLiteral("dropped"));
    QVERIFY(QDir().mkpath(folder));
    QList<QUrl> urls;
    for (const QString& name : {QStringLiteral("a.wav"), QStringLiteral("b.wav"), QStringLiteral("c.wav")}) {
        QVERIFY(!wav(QStringLiteral("dropped/") + name, 2, 0.5).isEmpty());
        urls << QUrl::fromLocalFile(folder + QLatin1Char('/') + name);
    }
    int rows = 0;
    answerModal<DlgAddMultpleFiles>([&rows](DlgAddMultpleFiles* dialog) {
        for (const QCheckBox* box : dialog->findChildren<QCheckBox*>())
            rows += box->property("NAME").toString() == QLatin1String("chkFilename") ? 1 : 0;
        dialog->findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->setChecked(true);
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(client->dropUrls(urls));

    QTRY_COMPARE(client->manager.snapshot().size(), 3);
    QCOMPARE(rows, 3);
    const QList<QueueFile*> queued = client->manager.snapshot();
    QCOMPARE(QString::fromUtf8(queued[1]->srcFile), QDir::toNativeSeparators(folder + QStringLiteral("/b.wav")));
    QCOMPARE(QString::fromUtf8(queued[1]->destFile),
             QDir::toNativeSeparators(folder + QStringLiteral("/b-1_ Speech -16 LUFS.wav")));
    QCOMPARE(queued[1]->priority, 10);
}

QTEST_MAIN(TestWatchFolderService)
#include "tst_watchfolderservice.moc"
