#include "audiofixtures.h"
#include "settings/folderwatcher.h"
#include "settings/platform.h"
#include "settings/scanpath.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtTest>

#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/time.h>
#endif

// A recursive watched folder on a real temporary tree, and the change
// notification that tells the scanner when to look at it.
class TestFolderTree : public QObject {
    Q_OBJECT

private slots:
    void init();

    void findsFilesInSubfoldersDownToTheDepthLimit();
    void followsNoFolderLinksAndLeavesOutputFoldersOut();
    void keepsKnownFilesAndPlaceholdersOfSubfolders();
    void namesOutputsInTheSameSubfolder();
    void keepsItsListingUntilAFolderOfTheTreeChanges();
    void readsAndWritesTheRecursiveElement();
    void watcherReportsChangesOfEveryFolderOfTheTree();
    void watcherCannotWatchWhatIsMissingOrSwitchedOff();
    void watchesAreCappedAndVirtualFileSystemsLeftOut();

private:
    QString file(const QString& name) const { return QDir::toNativeSeparators(m_root + QLatin1Char('/') + name); }
    void writeWav(const QString& name, double frequency = 440.0);
    QStringList scanNew();
    void ageTree();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    ScanPath m_folder;
};

void TestFolderTree::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = m_dir->path() + QStringLiteral("/in");
    QVERIFY(QDir().mkpath(m_root));
    m_folder = ScanPath();
    m_folder.path = QDir::toNativeSeparators(m_root);
    m_folder.recursive = true;
}

void TestFolderTree::writeWav(const QString& name, double frequency)
{
    QVERIFY(QDir().mkpath(QFileInfo(file(name)).absolutePath()));
    fixtures::Signal signal;
    signal.channels = 1;
    QVERIFY(fixtures::writeSine(file(name), 0.05, frequency, 0.5, signal));
}

QStringList TestFolderTree::scanNew()
{
    QStringList newFiles;
    QStringList gone;
    m_folder.scan(false, newFiles, gone);
    newFiles.sort();
    return newFiles;
}

// Every folder of the tree last changed an hour ago.
void TestFolderTree::ageTree()
{
#ifdef Q_OS_UNIX
    const timeval hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    QDirIterator it(m_root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList folders{m_root};
    while (it.hasNext())
        folders.append(it.next());
    for (const QString& folder : std::as_const(folders))
        QCOMPARE(::utimes(QFile::encodeName(folder).constData(), hourAgo), 0);
#endif
}

void TestFolderTree::findsFilesInSubfoldersDownToTheDepthLimit()
{
    // d1/d2/.../d17: a file at each depth from 0 to 17.
    QString relative;
    QStringList expected;
    for (int depth = 0; depth <= ScanPath::kMaxDepth + 1; ++depth) {
        const QString name = relative + QStringLiteral("take%1.wav").arg(depth);
        writeWav(name, 300.0 + depth * 10);
        if (depth <= ScanPath::kMaxDepth)
            expected.append(file(name));
        relative += QStringLiteral("d%1/").arg(depth + 1);
    }
    writeWav(QStringLiteral(".hidden/secret.wav"));
    expected.sort();
    QCOMPARE(scanNew(), expected);
    QCOMPARE(m_folder.listedFolders().size(), ScanPath::kMaxDepth + 1); // root, d1..d16; .hidden left out
    QCOMPARE(m_folder.listedFolders().first(), m_folder.path);

    // Not recursive: the folder itself only, as always.
    ScanPath flat;
    flat.path = m_folder.path;
    QStringList newFiles;
    QStringList gone;
    flat.scan(false, newFiles, gone);
    QCOMPARE(newFiles, QStringList{file(QStringLiteral("take0.wav"))});
}

void TestFolderTree::followsNoFolderLinksAndLeavesOutputFoldersOut()
{
#ifdef Q_OS_UNIX
    writeWav(QStringLiteral("a/one.wav"));
    const QString outside = m_dir->path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(outside));
    fixtures::Signal signal;
    QVERIFY(fixtures::writeSine(outside + QStringLiteral("/foreign.wav"), 0.05, 500.0, 0.5, signal));
    // A loop back to the root, a link out of the tree and one to a sibling.
    QVERIFY(QFile::link(m_root, file(QStringLiteral("a/loop"))));
    QVERIFY(QFile::link(outside, file(QStringLiteral("out-link"))));
    QVERIFY(QFile::link(file(QStringLiteral("a")), file(QStringLiteral("again"))));
    // Results of this folder and of another one are written inside the tree.
    writeWav(QStringLiteral("results/one-Voice.wav"), 620.0);
    writeWav(QStringLiteral("a/other-results/two-Voice.wav"), 640.0);
    m_folder.setExcludedFolders({platform::pathKey(file(QStringLiteral("results"))),
                                 platform::pathKey(file(QStringLiteral("a/other-results")))});

    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("a/one.wav"))});
    QStringList folders = m_folder.listedFolders();
    folders.sort();
    QCOMPARE(folders, (QStringList{m_folder.path, file(QStringLiteral("a"))}));
#else
    QSKIP("makes symbolic links through POSIX");
#endif
}

void TestFolderTree::keepsKnownFilesAndPlaceholdersOfSubfolders()
{
    writeWav(QStringLiteral("sub/take.wav"));
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("sub/take.wav"))});
    QVERIFY(scanNew().isEmpty());

    // A result the client writes next to its source in the subfolder is no
    // new input; one beyond the depth limit is not this folder's business.
    QVERIFY(m_folder.noteOwnOutput(file(QStringLiteral("sub/take-Voice.wav"))));
    QString deep = QStringLiteral("x");
    for (int depth = 1; depth <= ScanPath::kMaxDepth; ++depth)
        deep += QStringLiteral("/x");
    QVERIFY(m_folder.coversFolder(file(deep.section(QLatin1Char('/'), 0, ScanPath::kMaxDepth - 1))));
    QVERIFY(!m_folder.coversFolder(file(deep)));
    QVERIFY(!m_folder.coversFolder(m_dir->path()));
    QVERIFY(!m_folder.noteOwnOutput(m_dir->path() + QStringLiteral("/beside.wav")));
    writeWav(QStringLiteral("sub/take-Voice.wav"), 880.0);
    QVERIFY(scanNew().isEmpty());
    QVERIFY(!m_folder.scannedFiles.last().isPlaceholder());

    // Moved to another subfolder: the same file, not queued again.
    QVERIFY(QDir().mkpath(file(QStringLiteral("other"))));
    QVERIFY(QFile::rename(file(QStringLiteral("sub/take.wav")), file(QStringLiteral("other/take.wav"))));
    QVERIFY(scanNew().isEmpty());
}

void TestFolderTree::namesOutputsInTheSameSubfolder()
{
    m_folder.path = QStringLiteral("/music/in");
    const QString source = QStringLiteral("/music/in/live/day1/take.wav");
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("take-Voice.wav"), source),
             QDir::toNativeSeparators(QStringLiteral("/music/in/live/day1/take-Voice.wav")));
    m_folder.outputPath = QStringLiteral("/music/out");
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("take-Voice.wav"), source),
             QDir::toNativeSeparators(QStringLiteral("/music/out/live/day1/take-Voice.wav")));
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("take-Voice.wav"), QStringLiteral("/music/in/take.wav")),
             QDir::toNativeSeparators(QStringLiteral("/music/out/take-Voice.wav")));
    m_folder.recursive = false;
    QCOMPARE(m_folder.resolveOutputPath(QStringLiteral("take-Voice.wav"), source),
             QDir::toNativeSeparators(QStringLiteral("/music/out/take-Voice.wav")));
}

void TestFolderTree::keepsItsListingUntilAFolderOfTheTreeChanges()
{
#ifdef Q_OS_UNIX
    writeWav(QStringLiteral("a/b/one.wav"));
    ageTree();
    QCOMPARE(scanNew().size(), 1);
    QVERIFY(m_folder.listingIsCurrent());
    QVERIFY(!m_folder.hasUnsettledFiles());

    // A change deep in the tree is seen, also by the cheap check.
    writeWav(QStringLiteral("a/b/two.wav"), 550.0);
    QVERIFY(!m_folder.listingIsCurrent());
    QCOMPARE(scanNew(), QStringList{file(QStringLiteral("a/b/two.wav"))});

    // Other excluded folders make another listing.
    ageTree();
    scanNew();
    QVERIFY(m_folder.listingIsCurrent());
    m_folder.setExcludedFolders({platform::pathKey(file(QStringLiteral("a")))});
    QVERIFY(!m_folder.listingIsCurrent());
#else
    QSKIP("sets a folder's time through POSIX");
#endif
}

void TestFolderTree::readsAndWritesTheRecursiveElement()
{
    auto written = [](const ScanPath& folder) {
        QByteArray xml;
        QXmlStreamWriter writer(&xml);
        folder.writeXml(writer);
        return xml;
    };
    auto read = [](const QByteArray& xml) {
        QXmlStreamReader reader(xml);
        reader.readNextStartElement();
        ScanPath folder;
        folder.readXml(reader);
        return folder;
    };
    ScanPath folder;
    folder.path = QStringLiteral("/music/in");
    folder.scannedFiles.append(ScannedFile{QStringLiteral("/music/in/a.wav"), 10, "abc"});
    // Written after every other element, the files seen included.
    QVERIFY(written(folder).endsWith(
        "</ScannedFile><recursive>false</recursive><settleSeconds>3</settleSeconds></ScanPath>"));
    QVERIFY(!read(written(folder)).recursive);
    folder.recursive = true;
    QVERIFY(read(written(folder)).recursive);
    // A file without the element reads as not recursive.
    QVERIFY(!read("<ScanPath><path>/x</path></ScanPath>").recursive);
    // The settle time is kept within 0..600 s; text that is no number leaves the default.
    QCOMPARE(read("<ScanPath><settleSeconds>9999</settleSeconds></ScanPath>").settleSeconds, 600);
    QCOMPARE(read("<ScanPath><settleSeconds>-4</settleSeconds></ScanPath>").settleSeconds, 0);
    QCOMPARE(read("<ScanPath><settleSeconds>soon</settleSeconds></ScanPath>").settleSeconds, 3);
    folder.settleSeconds = 42;
    ScanPath copy;
    copy.assignFrom(folder);
    QVERIFY(copy.recursive);
    QCOMPARE(read(written(copy)).settleSeconds, 42);
    // The true-peak ceiling: off (NaN) when absent, empty or no number, and
    // then not written; kept within -9..0 dBTP; written last when set.
    QVERIFY(std::isnan(read("<ScanPath><path>/x</path></ScanPath>").truePeakCeiling));
    QVERIFY(std::isnan(read("<ScanPath><truePeakCeiling></truePeakCeiling></ScanPath>").truePeakCeiling));
    QVERIFY(std::isnan(read("<ScanPath><truePeakCeiling>loud</truePeakCeiling></ScanPath>").truePeakCeiling));
    QCOMPARE(read("<ScanPath><truePeakCeiling> -20 </truePeakCeiling></ScanPath>").truePeakCeiling, -9.0);
    QCOMPARE(read("<ScanPath><truePeakCeiling>0.5</truePeakCeiling></ScanPath>").truePeakCeiling, 0.0);
    QVERIFY(!written(copy).contains("truePeakCeiling"));
    copy.truePeakCeiling = -1.5;
    QVERIFY(written(copy).endsWith("<settleSeconds>42</settleSeconds><truePeakCeiling>-1.5</truePeakCeiling></ScanPath>"));
    ScanPath second;
    second.assignFrom(read(written(copy)));
    QCOMPARE(second.truePeakCeiling, -1.5);
    ProcessingOptions options;
    second.toOptions(options);
    QCOMPARE(options.truePeakCeiling, -1.5);
}

void TestFolderTree::watcherReportsChangesOfEveryFolderOfTheTree()
{
    writeWav(QStringLiteral("a/b/one.wav"));
    scanNew();
    FolderWatcher watcher;
    QSignalSpy changed(&watcher, &FolderWatcher::changed);
    QVERIFY(watcher.watch(m_folder.path, m_folder.listedFolders()));
    QVERIFY(watcher.isWatched(m_folder.path));
    QVERIFY(!watcher.hasChanged(m_folder.path));

    writeWav(QStringLiteral("a/b/two.wav"), 550.0);
    QVERIFY2(changed.wait(5000), "no change reported for a file written in a subfolder");
    QVERIFY(watcher.takeChanged(m_folder.path));
    QVERIFY(!watcher.takeChanged(m_folder.path));

    // A removed and re-created subfolder is watched again once the next
    // listing names it.
    QVERIFY(QDir(file(QStringLiteral("a/b"))).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(watcher.hasChanged(m_folder.path), 5000);
    QVERIFY(QDir().mkpath(file(QStringLiteral("a/b"))));
    QVERIFY(watcher.watch(m_folder.path, m_folder.listedFolders()));
    // The re-creation itself is a change of a/; only a/b changes after it.
    QTest::qWait(200);
    watcher.takeChanged(m_folder.path);
    writeWav(QStringLiteral("a/b/three.wav"), 660.0);
    QTRY_VERIFY2_WITH_TIMEOUT(watcher.hasChanged(m_folder.path), "no change reported in a re-created subfolder", 5000);

    watcher.keepOnly({});
    QVERIFY(!watcher.isWatched(m_folder.path));
}

void TestFolderTree::watcherCannotWatchWhatIsMissingOrSwitchedOff()
{
    FolderWatcher watcher;
    QVERIFY(!watcher.watch(file(QStringLiteral("missing")), {file(QStringLiteral("missing"))}));
    QVERIFY(!watcher.isWatched(file(QStringLiteral("missing"))));
    QVERIFY(!watcher.watch(m_folder.path, {}));

    QVERIFY(watcher.watch(m_folder.path, {m_folder.path}));
    watcher.setEnabled(false);
    QVERIFY(!watcher.isWatched(m_folder.path));
    QVERIFY(!watcher.watch(m_folder.path, {m_folder.path}));
}

// Directory watches stop at the limit, the folder is then polled with a
// warning; /proc and the like are never listed, also from "/".
void TestFolderTree::watchesAreCappedAndVirtualFileSystemsLeftOut()
{
    writeWav(QStringLiteral("a/b/c/one.wav"));
    scanNew();
    QCOMPARE(m_folder.listedFolders().size(), 4);
    FolderWatcher watcher;
    watcher.setMaxDirectoryWatches(2);
    QVERIFY(!watcher.watch(m_folder.path, m_folder.listedFolders()));
    QVERIFY(!watcher.isWatched(m_folder.path));
    QCOMPARE(watcher.directoryWatches(), 2);
    QVERIFY2(watcher.warning(m_folder.path).startsWith("2 of its 4 folders are not watched"),
             qPrintable(watcher.warning(m_folder.path)));
#ifdef Q_OS_LINUX
    for (const char* path : {"/proc", "/proc/self/fd", "/sys/", "/dev/shm", "/run/user", "/x/../proc"})
        QVERIFY2(platform::isVirtualFileSystemFolder(QLatin1String(path)), path);
    for (const char* path : {"/", "/procedure", "/home/run", "/tmp"})
        QVERIFY2(!platform::isVirtualFileSystemFolder(QLatin1String(path)), path);
    m_folder.path = QStringLiteral("/proc");
    QVERIFY(scanNew().isEmpty());
    QVERIFY(m_folder.listedFolders().isEmpty());
#endif
}

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
