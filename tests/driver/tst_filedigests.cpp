#include "driver/filedigests.h"
#include "settings/scanpath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

// New files read once, all on the worker and handed out at a later ask
// (the header's verdict before the digest), however small; a file changed
// while it is read read again, a WAV still being written judged but not
// hashed.
class TestFileDigests : public QObject {
    Q_OBJECT

private slots:
    void everyFileIsReadOnTheWorker();
    void aChangedFileIsReadAgain();
    void anIncompleteWavIsNotHashed();

private:
    static constexpr qint64 kLargeBytes = 4 * 1024 * 1024 + 1;
    static bool write(const QString& path, qint64 bytes, char fill);
};

bool TestFileDigests::write(const QString& path, qint64 bytes, char fill)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, fill)) == bytes;
}

void TestFileDigests::everyFileIsReadOnTheWorker()
{
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.wav"));
    const QString large = dir.filePath(QStringLiteral("large.wav"));
    QVERIFY(write(small, 1000, 's'));
    QVERIFY(write(large, kLargeBytes, 'l'));
    FileDigests digests;
    std::atomic<int> progress{0};
    digests.setOnProgress([&] { ++progress; });
    for (const QString& path : {small, large})
        QCOMPARE(digests.readOf(path, false).stage, NewFileRead::Stage::Pending);
    QVERIFY(QTest::qWaitFor([&] { return !digests.reading(); }));
    for (const QString& path : {small, large}) {
        const NewFileRead read = digests.readOf(path, false);
        QCOMPARE(read.stage, NewFileRead::Stage::Read);
        QCOMPARE(read.digest, ScanPath::fileDigest(path));
        QCOMPARE(read.header, wavheader::Verdict::NotWav);
    }
    // Told once judged, once read, for each.
    QCOMPARE(progress.load(), 4);
    // Handed out once, then forgotten.
    QCOMPARE(digests.pending(), 0);
}

void TestFileDigests::aChangedFileIsReadAgain()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    QVERIFY(write(path, kLargeBytes, 'a'));
    FileDigests digests;
    QVERIFY(digests.readOf(path, false).digest.isEmpty());
    QVERIFY(write(path, kLargeBytes + 1, 'b'));
    QByteArray digest;
    QVERIFY(QTest::qWaitFor([&] { return !(digest = digests.readOf(path, false).digest).isEmpty(); }));
    QCOMPARE(digest, ScanPath::fileDigest(path));
}

void TestFileDigests::anIncompleteWavIsNotHashed()
{
    // A recorder's header: sizes still 0, data after it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    QByteArray header("RIFF\0\0\0\0WAVEfmt ", 16);
    header += QByteArray::fromHex("100000000100010044ac000088580100020010006461746100000000");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(header) == header.size()
            && file.write(QByteArray(kLargeBytes, 'x')) > 0);
    file.close();
    FileDigests digests;
    digests.readOf(path, false);
    NewFileRead read;
    QVERIFY(QTest::qWaitFor([&] { return (read = digests.readOf(path, false)).stage == NewFileRead::Stage::Read; }));
    QVERIFY(read.headerIncomplete());
    QVERIFY(read.digest.isEmpty());
    // Taken as it is (a broken file): read whole.
    digests.readOf(path, true);
    QVERIFY(QTest::qWaitFor([&] { return (read = digests.readOf(path, true)).stage == NewFileRead::Stage::Read; }));
    QVERIFY(read.headerIncomplete());
    QCOMPARE(read.digest, ScanPath::fileDigest(path));
}

QTEST_GUILESS_MAIN(TestFileDigests)
#include "tst_filedigests.moc"
