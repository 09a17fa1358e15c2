#include "driver/filedigests.h"
#include "settings/scanpath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Digests of new files: small ones at once, large ones from the worker at
// a later ask, a file changed while it is read read again.
class TestFileDigests : public QObject {
    Q_OBJECT

private slots:
    void smallFilesAtOnceLargeOnesLater();
    void aChangedFileIsReadAgain();

private:
    static bool write(const QString& path, qint64 bytes, char fill);
};

bool TestFileDigests::write(const QString& path, qint64 bytes, char fill)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, fill)) == bytes;
}

void TestFileDigests::smallFilesAtOnceLargeOnesLater()
{
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.wav"));
    const QString large = dir.filePath(QStringLiteral("large.wav"));
    QVERIFY(write(small, 1000, 's'));
    QVERIFY(write(large, FileDigests::kInlineBytes + 1, 'l'));
    FileDigests digests;
    QCOMPARE(digests.digestOf(small), ScanPath::fileDigest(small));
    QVERIFY(digests.digestOf(large).isEmpty());
    QByteArray digest;
    QVERIFY(QTest::qWaitFor([&] { return !(digest = digests.digestOf(large)).isEmpty(); }));
    QCOMPARE(digest, ScanPath::fileDigest(large));
    // Handed out once, then forgotten.
    QCOMPARE(digests.pending(), 0);
}

void TestFileDigests::aChangedFileIsReadAgain()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    QVERIFY(write(path, FileDigests::kInlineBytes + 1, 'a'));
    FileDigests digests;
    QVERIFY(digests.digestOf(path).isEmpty());
    QVERIFY(write(path, FileDigests::kInlineBytes + 2, 'b'));
    QByteArray digest;
    QVERIFY(QTest::qWaitFor([&] { return !(digest = digests.digestOf(path)).isEmpty(); }));
    QCOMPARE(digest, ScanPath::fileDigest(path));
}

QTEST_GUILESS_MAIN(TestFileDigests)
#include "tst_filedigests.moc"
