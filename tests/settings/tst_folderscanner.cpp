#include "audiofixtures.h"
#include "settings/platform.h"
#include "settings/scanpath.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {

// A WAV written in chunks, the way recorders and copiers write them: the
// header first (placeholder sizes, the final sizes, or sizes kept current
// after every chunk), through one open file or a file reopened per chunk.
class SlowWav {
public:
    enum class Header { PatchedAtEnd, FinalFirst, KeptCurrent };
    static constexpr int kChunks = 5;
    static constexpr int kChunkBytes = 4000;

    SlowWav(const QString& path, Header header, bool reopen) : m_file(path), m_header(header), m_reopen(reopen) {}

    QString errorString() const { return m_file.errorString(); }

    bool writeChunk()
    {
        if (!m_file.isOpen() && !m_file.open(QIODevice::ReadWrite))
            return false;
        if (m_written == 0 && !writeHeader(m_header == Header::FinalFirst ? kChunks * kChunkBytes : 0))
            return false;
        ++m_written;
        if (!m_file.seek(m_file.size()) || m_file.write(QByteArray(kChunkBytes, char(m_written))) != kChunkBytes)
            return false;
        const bool last = m_written == kChunks;
        if ((m_header == Header::KeptCurrent || (last && m_header == Header::PatchedAtEnd))
            && !writeHeader(m_written * kChunkBytes))
            return false;
        if (m_reopen || last)
            m_file.close();
        return true;
    }

private:
    bool writeHeader(quint32 dataBytes)
    {
        QByteArray header;
        QDataStream out(&header, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        const auto tag = [&out](const char* text) { out.writeRawData(text, 4); };
        tag("RIFF");
        out << quint32(dataBytes ? 36 + dataBytes : 0);
        tag("WAVE");
        tag("fmt ");
        out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
        tag("data");
        out << dataBytes;
        return m_file.seek(0) && m_file.write(header) == header.size();
    }

    QFile m_file;
    Header m_header;
    bool m_reopen;
    int m_written = 0;
};

// Acts as another user until destroyed, real and effective user both (as
// access() looks at the real one); the saved one stays root, which lets the
// destructor come back. Possible only for root on Linux; 0 means root.
class ActingAs {
public:
#ifdef Q_OS_LINUX
    static bool possible() { return ::geteuid() == 0; }
    explicit ActingAs(unsigned uid) : m_active(uid != 0 && ::setresuid(uid, uid, 0) == 0) {}
    ~ActingAs()
    {
        if (m_active)
            [[maybe_unused]] const int restored = ::setresuid(0, 0, 0);
    }
#else
    static bool possible() { return false; }
    explicit ActingAs(unsigned) {}
#endif
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;

private:
    bool m_active = false;
};

} // namespace

// One watched folder on a real temporary folder, scanned as the folder
// scanner does it.
class TestFolderScanner : public QObject {
    Q_OBJECT

private slots:
    void init();

    void listsOnlyMatchingVisibleFiles();
    void reportsANewFileOnceWithItsDigest();
    void waitsForACopyStillBeingWritten();
    void takesSlowlyWrittenWavsOnlyWhenWhole_data();
    void takesSlowlyWrittenWavsOnlyWhenWhole();
    void renameIsNotReportedButACopyIs();
    void aFileStillBeingHashedIsTakenUnlessItMayBeARename();
    void deletedFileIsForgottenAndReportedWhenItReturns();
    void aScanOutOfTimeLeavesNewFilesToTheNext();
    void namesDifferingInCaseFollowThePlatform();
    void placeholdersTurnIntoEntriesAndAreNotReported();
    void comparesFullSizesOfLargeFiles();
    void seesChangesOfAFolderListedBefore();
    void resolvesOutputNames();

private:
    QString file(const QString& name) const { return QDir::toNativeSeparators(m_folder.path + QLatin1Char('/') + name); }
    void writeWav(const QString& name, double frequency = 440.0);
    QStringList scanNew(QStringList* vanished = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
    ScanPath m_folder;
};

void TestFolderScanner::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_folder = ScanPath();
    m_folder.path = QDir::toNativeSeparators(m_dir->path());
}

void TestFolderScanner::writeWav(const QString& name, double frequency)
{
    fixtures::Signal signal;
    signal.channels = 1;
    QVERIFY(fixtures::writeSine(file(name), 0.05, frequency, 0.5, signal));
}

QStringList TestFolderScanner::scanNew(QStringList* vanished)
{
    QStringList newFiles;
    QStringList gone;
    m_folder.scan(false, newFiles, gone);
    if (vanished)
        *vanished = gone;
    newFiles.sort();
    return newFiles;
}

void TestFolderScanner::listsOnlyMatchingVisibleFiles()
{
    writeWav(QStringLiteral("a.wav"));
    writeWav(QStringLiteral("B.WAV"));
    writeWav(QStringLiteral(".hidden.wav"));
    writeWav(QStringLiteral("c.wav.txt"));
    writeWav(QStringLiteral("clip.mp4"));
    writeWav(QStringLiteral("dot."));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("sub.wav")));
    writeWav(QStringLiteral("sub.wav/inner.wav"));

    QStringList audio = ScanPath::listFiles(m_folder.path, QStringLiteral("wav"));
    audio.sort();
    QCOMPARE(audio, (QStringList{file(QStringLiteral("B.WAV")), file(QStringLiteral("a.wav"))}));

    // Empty parts of the list are kept: "" matches names ending in a dot.
    QStringList mixed = ScanPath::listFiles(m_folder.path, QStringLiteral("mp4,"));
    mixed.sort();
    QCOMPARE(mixed, (QStringList{file(QStringLiteral("clip.mp4")), file(QStringLiteral("dot."))}));

    QStringList newFiles, vanished;
    m_folder.scan(true, newFiles, vanished);
    QVERIFY(newFiles.contains(file(QStringLiteral("clip.mp4"))));
    QCOMPARE(newFiles.size(), 3);
}

void TestFolderScanner::reportsANewFileOnceWithItsDigest()
{
    QFile raw(file(QStringLiteral("abc.wav")));
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write("abc");
    raw.close();
    QCOMPARE(ScanPath::fileDigest(raw.fileName()), QByteArray("900150983cd24fb0d6963f7d28e17f72"));
    QVERIFY(ScanPath::fileDigest(file(QStringLiteral("missing.wav"))).isEmpty());

    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("abc.wav"))});
    QCOMPARE(m_folder.scannedFiles.size(), 1);
    QCOMPARE(m_folder.scannedFiles[0].filePath, file(QStringLiteral("abc.wav")));
    QCOMPARE(m_folder.scannedFiles[0].fileSize, qint64(3));
    QCOMPARE(m_folder.scannedFiles[0].MD5, QByteArray("900150983cd24fb0d6963f7d28e17f72"));

    QVERIFY(scanNew().isEmpty());
    QCOMPARE(m_folder.scannedFiles.size(), 1);
}

void TestFolderScanner::waitsForACopyStillBeingWritten()
{
    QFile copy(file(QStringLiteral("copy.wav")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(QByteArray(4096, 'x'));
    copy.flush();
    // Held open for writing, whether or not bytes are still coming.
    QVERIFY(scanNew().isEmpty());
    QVERIFY(scanNew().isEmpty());
    QVERIFY(m_folder.scannedFiles.isEmpty());

    copy.write(QByteArray(4096, 'y'));
    copy.close();
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("copy.wav"))});
    QCOMPARE(m_folder.scannedFiles[0].fileSize, qint64(8192));
}

void TestFolderScanner::takesSlowlyWrittenWavsOnlyWhenWhole_data()
{
    QTest::addColumn<SlowWav::Header>("header");
    QTest::addColumn<bool>("reopen");
    QTest::addColumn<bool>("otherUsers");
    using H = SlowWav::Header;
    QTest::newRow("one open file, header patched at the end") << H::PatchedAtEnd << false << false;
    QTest::newRow("reopened per chunk, header patched at the end") << H::PatchedAtEnd << true << false;
    QTest::newRow("reopened per chunk, final header first") << H::FinalFirst << true << false;
    // The writer and the client as two ordinary users: the client can
    // neither write the file nor ask who holds it open.
    QTest::newRow("other user, one open file, header patched at the end") << H::PatchedAtEnd << false << true;
    QTest::newRow("other user, reopened per chunk, header kept current") << H::KeptCurrent << true << true;
}

void TestFolderScanner::takesSlowlyWrittenWavsOnlyWhenWhole()
{
    QFETCH(SlowWav::Header, header);
    QFETCH(bool, reopen);
    QFETCH(bool, otherUsers);
    if (otherUsers && !ActingAs::possible())
        QSKIP("acting as other users needs root on Linux");
    const unsigned writer = otherUsers ? 65534 : 0;
    const unsigned client = otherUsers ? 65533 : 0;
    const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QVERIFY(!otherUsers || QFile::setPermissions(m_dir->path(), everyone));
    m_folder.settleSeconds = 1;
    const QString path = file(QStringLiteral("take.wav"));
    SlowWav wav(path, header, reopen);
    auto scanAsClient = [&] {
        const ActingAs as(client);
        return scanNew();
    };
    for (int chunk = 1; chunk <= SlowWav::kChunks; ++chunk) {
        {
            const ActingAs as(writer);
            QVERIFY2(wav.writeChunk(), qPrintable(wav.errorString()));
        }
        if (chunk < SlowWav::kChunks)
            QVERIFY2(scanAsClient().isEmpty(), qPrintable(QStringLiteral("taken after chunk %1").arg(chunk)));
    }
    QStringList taken;
    QDeadlineTimer deadline(5000);
    while (taken.isEmpty() && !deadline.hasExpired()) {
        taken = scanAsClient();
        if (taken.isEmpty())
            QTest::qWait(50);
    }
    QCOMPARE(taken, QStringList{path});
    QCOMPARE(m_folder.scannedFiles.constLast().fileSize, qint64(44 + SlowWav::kChunks * SlowWav::kChunkBytes));
    if (!otherUsers)
        return;

    // Recorded as seen before it was scanned (a folder's files left alone
    // when it was added): the placeholder of a file the client may only
    // read is completed too.
    m_folder.scannedFiles.clear();
    m_folder.notePlaceholder(path);
    QVERIFY(scanAsClient().isEmpty());
    QCOMPARE(m_folder.scannedFiles.constFirst().fileSize, qint64(44 + SlowWav::kChunks * SlowWav::kChunkBytes));
    QVERIFY(!m_folder.hasOpenPlaceholders());
}

void TestFolderScanner::renameIsNotReportedButACopyIs()
{
    writeWav(QStringLiteral("take.wav"));
    QCOMPARE(scanNew().size(), 1);

    QVERIFY(QFile::rename(file(QStringLiteral("take.wav")), file(QStringLiteral("renamed.wav"))));
    QStringList vanished;
    QVERIFY(scanNew(&vanished).isEmpty());
    QCOMPARE(vanished, QStringList{file(QStringLiteral("take.wav"))});
    m_folder.forgetScannedFiles(vanished);
    QCOMPARE(m_folder.scannedFiles.size(), 1);
    QCOMPARE(m_folder.scannedFiles[0].filePath, file(QStringLiteral("renamed.wav")));

    QVERIFY(QFile::copy(file(QStringLiteral("renamed.wav")), file(QStringLiteral("second.wav"))));
    QCOMPARE(scanNew(&vanished), QStringList{file(QStringLiteral("second.wav"))});
    QVERIFY(vanished.isEmpty());
}

void TestFolderScanner::aFileStillBeingHashedIsTakenUnlessItMayBeARename()
{
    // A reader elsewhere, as far as `stage` says: nothing yet, the header
    // judged, or the file read.
    NewFileRead::Stage stage = NewFileRead::Stage::Judged;
    const ScanPath::ReadSource reader = [&stage](const QString& path, bool takeIncomplete) {
        NewFileRead read = NewFileRead::of(path, takeIncomplete);
        if (stage != NewFileRead::Stage::Read)
            read = {stage, stage == NewFileRead::Stage::Judged ? read.header : wavheader::Verdict::NotWav, {}};
        return read;
    };
    // As the folder scanner does: vanished entries are forgotten at once.
    const auto scanWith = [&](NewFileRead::Stage now) {
        stage = now;
        QStringList newFiles, vanished;
        m_folder.scan(false, newFiles, vanished, reader);
        m_folder.forgetScannedFiles(vanished);
        return newFiles;
    };
    writeWav(QStringLiteral("take.wav"));
    QVERIFY(scanWith(NewFileRead::Stage::Pending).isEmpty());
    QCOMPARE(scanWith(NewFileRead::Stage::Judged), QStringList{file(QStringLiteral("take.wav"))});
    QVERIFY(m_folder.scannedFiles[0].isPlaceholder());
    QVERIFY(scanWith(NewFileRead::Stage::Read).isEmpty());
    QCOMPARE(m_folder.scannedFiles[0].MD5, ScanPath::fileDigest(file(QStringLiteral("take.wav"))));

    // Renamed: a vanished entry has its size, so both wait for its digest.
    QVERIFY(QFile::rename(file(QStringLiteral("take.wav")), file(QStringLiteral("renamed.wav"))));
    QVERIFY(scanWith(NewFileRead::Stage::Pending).isEmpty());
    QVERIFY(scanWith(NewFileRead::Stage::Judged).isEmpty());
    QVERIFY(m_folder.hasUnsettledFiles());
    QVERIFY(scanWith(NewFileRead::Stage::Read).isEmpty());
    QCOMPARE(m_folder.scannedFiles.size(), 1);
    QCOMPARE(m_folder.scannedFiles[0].filePath, file(QStringLiteral("renamed.wav")));
}

void TestFolderScanner::deletedFileIsForgottenAndReportedWhenItReturns()
{
    writeWav(QStringLiteral("take.wav"));
    writeWav(QStringLiteral("keep.wav"), 880.0);
    QCOMPARE(scanNew().size(), 2);

    QVERIFY(QFile::remove(file(QStringLiteral("take.wav"))));
    QStringList vanished;
    QVERIFY(scanNew(&vanished).isEmpty());
    QCOMPARE(vanished, QStringList{file(QStringLiteral("take.wav"))});
    m_folder.forgetScannedFiles(vanished);
    QCOMPARE(m_folder.scannedFiles.size(), 1);

    writeWav(QStringLiteral("take.wav"));
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("take.wav"))});
}

void TestFolderScanner::aScanOutOfTimeLeavesNewFilesToTheNext()
{
    writeWav(QStringLiteral("gone.wav"));
    QCOMPARE(scanNew().size(), 1);
    QVERIFY(QFile::remove(file(QStringLiteral("gone.wav"))));
    const QStringList arrived{file(QStringLiteral("a.wav")), file(QStringLiteral("b.wav")), file(QStringLiteral("c.wav"))};
    writeWav(QStringLiteral("a.wav"), 500.0);
    writeWav(QStringLiteral("b.wav"), 600.0);
    writeWav(QStringLiteral("c.wav"), 700.0);

    // With no time left, each scan still takes one new file; the others
    // wait, and no entry is reported gone while some new file may be it.
    QStringList taken;
    for (int round = 1; round <= 3; ++round) {
        QStringList newFiles, vanished;
        m_folder.scan(false, newFiles, vanished, {}, QDeadlineTimer(0));
        QCOMPARE(newFiles.size(), 1);
        QCOMPARE(m_folder.hasUnsettledFiles(), round < 3);
        QCOMPARE(vanished, round < 3 ? QStringList() : QStringList{file(QStringLiteral("gone.wav"))});
        taken += newFiles;
    }
    taken.sort();
    QCOMPARE(taken, arrived);
}

void TestFolderScanner::namesDifferingInCaseFollowThePlatform()
{
    writeWav(QStringLiteral("take.wav"));
    QCOMPARE(scanNew().size(), 1);
    if (platform::pathCaseSensitivity() == Qt::CaseInsensitive) {
        // One file under two spellings: forgetting either spelling drops it.
        m_folder.forgetScannedFiles({file(QStringLiteral("TAKE.wav"))});
        QVERIFY(m_folder.scannedFiles.isEmpty());
        return;
    }
    // Two files; the second has other content so it is no renamed copy.
    writeWav(QStringLiteral("TAKE.wav"), 660.0);
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("TAKE.wav"))});
    m_folder.forgetScannedFiles({file(QStringLiteral("TAKE.wav"))});
    QCOMPARE(m_folder.scannedFiles.size(), 1);
    QCOMPARE(m_folder.scannedFiles[0].filePath, file(QStringLiteral("take.wav")));
}

void TestFolderScanner::placeholdersTurnIntoEntriesAndAreNotReported()
{
    // The client notes its outputs before writing them: one into the
    // watched folder itself, one into another folder.
    QTemporaryDir elsewhere;
    const QString outside = QDir::toNativeSeparators(elsewhere.filePath(QStringLiteral("take-Voice.wav")));
    m_folder.notePlaceholder(file(QStringLiteral("take-Voice.wav")));
    m_folder.notePlaceholder(outside);

    // Not written yet: both count as vanished (the caller keeps outputs still
    // being produced) and nothing is reported.
    QStringList vanished;
    QVERIFY(scanNew(&vanished).isEmpty());
    QCOMPARE(vanished.size(), 2);

    writeWav(QStringLiteral("take-Voice.wav"));
    QFile::copy(file(QStringLiteral("take-Voice.wav")), outside);
    writeWav(QStringLiteral("new.wav"), 990.0);
    QCOMPARE(scanNew(&vanished), QStringList{file(QStringLiteral("new.wav"))});
    QVERIFY(vanished.isEmpty());
    QCOMPARE(m_folder.scannedFiles.size(), 3);
    const qint64 size = QFileInfo(outside).size();
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(m_folder.scannedFiles[i].fileSize, size);
        QCOMPARE(m_folder.scannedFiles[i].MD5, ScanPath::fileDigest(outside));
    }

    // A placeholder for a file that is there already is not added twice.
    m_folder.notePlaceholder(outside);
    QCOMPARE(m_folder.scannedFiles.size(), 3);
}

void TestFolderScanner::comparesFullSizesOfLargeFiles()
{
    // A vanished entry of 4 GiB + 3 bytes with the digest of "abc": a new
    // 3-byte file "abc" is not that file under a new name, although both
    // sizes agree in their lower 32 bits.
    ScannedFile large;
    large.filePath = file(QStringLiteral("gone.wav"));
    large.fileSize = (qint64(1) << 32) + 3;
    large.MD5 = "900150983cd24fb0d6963f7d28e17f72";
    m_folder.scannedFiles.append(large);

    QFile raw(file(QStringLiteral("abc.wav")));
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write("abc");
    raw.close();
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("abc.wav"))});

    // The same file with its real size is recognised as moved.
    m_folder.scannedFiles = {large};
    m_folder.scannedFiles[0].fileSize = 3;
    QVERIFY(scanNew().isEmpty());
}

void TestFolderScanner::seesChangesOfAFolderListedBefore()
{
#ifdef Q_OS_UNIX
    // A folder last changed an hour ago: its listing is kept between scans
    // until an entry is added or removed.
    auto ageFolder = [this] {
        const timeval hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
        QCOMPARE(::utimes(QFile::encodeName(m_dir->path()).constData(), hourAgo), 0);
    };
    writeWav(QStringLiteral("a.wav"));
    ageFolder();
    QCOMPARE(scanNew().size(), 1);
    QVERIFY(scanNew().isEmpty());

    writeWav(QStringLiteral("b.wav"), 550.0);
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("b.wav"))});
    ageFolder();
    QVERIFY(scanNew().isEmpty());

    QVERIFY(QFile::remove(file(QStringLiteral("a.wav"))));
    QStringList vanished;
    QVERIFY(scanNew(&vanished).isEmpty());
    QCOMPARE(vanished, QStringList{file(QStringLiteral("a.wav"))});
#else
    QSKIP("sets a folder's time through POSIX");
#endif
}

void TestFolderScanner::resolvesOutputNames()
{
    m_folder.path = QStringLiteral("/music/in");
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("sub/take-Voice.wav")),
             QDir::toNativeSeparators(QStringLiteral("/music/in/take-Voice.wav")));
    m_folder.outputPath = QStringLiteral("/music/out");
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("take-Voice.wav")),
             QDir::toNativeSeparators(QStringLiteral("/music/out/take-Voice.wav")));
}

QTEST_MAIN(TestFolderScanner)
#include "tst_folderscanner.moc"
