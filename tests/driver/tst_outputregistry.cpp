#include "driver/outputregistry.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Placeholders for the client's own outputs in watched folders, and the
// reservation of an output name.
class TestOutputRegistry : public QObject {
    Q_OBJECT

private slots:
    void init();
    void outputsAreNotedOnceInTheirOwnFolder();
    void newDestinationsAreNotedInTheStoredFolder();
    void reservationCreatesAnOwnerWritableFile();
    void reservationNeverTruncatesAnExistingFile();

private:
    ScanPath folder(const QString& name, const QByteArray& preset);
    QList<ScannedFile> known(const QString& name);

    std::unique_ptr<QTemporaryDir> dir;
    Settings settings;
};

void TestOutputRegistry::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("in")));
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("other")));
    settings.replaceScanPaths({folder(QStringLiteral("in"), "1: Speech"), folder(QStringLiteral("other"), "2: Music")});
}

ScanPath TestOutputRegistry::folder(const QString& name, const QByteArray& preset)
{
    ScanPath scanPath;
    scanPath.path = QDir::toNativeSeparators(dir->filePath(name));
    scanPath.outputPath = scanPath.path;
    scanPath.preset = preset;
    return scanPath;
}

QList<ScannedFile> TestOutputRegistry::known(const QString& name)
{
    for (const ScanPath& scanPath : settings.scanPaths()) {
        if (scanPath.path == QDir::toNativeSeparators(dir->filePath(name)))
            return scanPath.scannedFiles;
    }
    return {};
}

void TestOutputRegistry::outputsAreNotedOnceInTheirOwnFolder()
{
    OutputRegistry registry(&settings);
    const QString output = dir->filePath(QStringLiteral("in/take - Speech.wav"));
    registry.registerOutputInWatchedFolders(output);
    registry.registerOutputInWatchedFolders(output);
    registry.registerOutputInWatchedFolders(dir->filePath(QStringLiteral("elsewhere/take.wav")));

    const QList<ScannedFile> inFolder = known(QStringLiteral("in"));
    QCOMPARE(inFolder.size(), 1);
    QCOMPARE(inFolder.first().filePath, QDir::toNativeSeparators(output));
    QVERIFY(inFolder.first().isPlaceholder());
    QVERIFY(known(QStringLiteral("other")).isEmpty());
}

void TestOutputRegistry::newDestinationsAreNotedInTheStoredFolder()
{
    OutputRegistry registry(&settings);
    const QString destination = dir->filePath(QStringLiteral("other/take - Music.wav"));
    registry.queue_newDestFileAdded(destination.toUtf8());
    QCOMPARE(known(QStringLiteral("other")).size(), 1);
    QVERIFY(known(QStringLiteral("in")).isEmpty());
}

void TestOutputRegistry::reservationCreatesAnOwnerWritableFile()
{
    const QString path = dir->filePath(QStringLiteral("in/video - Speech.mp4"));
    QVERIFY(OutputRegistry::reserveOutputFile(path));
    const QFileInfo info(path);
    QVERIFY(info.exists());
    QCOMPARE(info.size(), 0);
    QVERIFY(info.permission(QFileDevice::WriteOwner));
    QVERIFY(!info.permission(QFileDevice::WriteGroup));
    QVERIFY(!info.permission(QFileDevice::WriteOther));
    QVERIFY(!OutputRegistry::reserveOutputFile(dir->filePath(QStringLiteral("missing/x.mp4"))));
}

void TestOutputRegistry::reservationNeverTruncatesAnExistingFile()
{
    const QString path = dir->filePath(QStringLiteral("in/mine.mp4"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("user's video");
    file.close();
    QVERIFY(!OutputRegistry::reserveOutputFile(path));
    QCOMPARE(QFileInfo(path).size(), qint64(12));
}

QTEST_GUILESS_MAIN(TestOutputRegistry)
#include "tst_outputregistry.moc"
