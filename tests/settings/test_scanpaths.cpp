#include "settings/platform.h"
#include "settings/settings.h"

#include <QtTest>

namespace {

ScanPath folder(int id, const QString& path, const QString& outputPath = QString(), const QByteArray& preset = "P")
{
    ScanPath s;
    s.id = id;
    s.path = path;
    s.outputPath = outputPath;
    s.preset = preset;
    return s;
}

ScanPath withFiles(ScanPath s, int count)
{
    for (int i = 0; i < count; ++i)
        s.scannedFiles.append({s.path + QStringLiteral("/f%1.wav").arg(i), i, "md5"});
    return s;
}

bool caseBlindPaths()
{
    return platform::pathCaseSensitivity() == Qt::CaseInsensitive;
}

} // namespace

class TestScanPaths : public QObject {
    Q_OBJECT

private slots:
    void replaceKeepsOrDropsScannedFiles()
    {
        Settings settings;
        settings.addScanPath(withFiles(folder(1, QStringLiteral("/in/a")), 2));
        settings.addScanPath(withFiles(folder(2, QStringLiteral("/in/b")), 3));
        settings.addScanPath(withFiles(folder(3, QStringLiteral("/in/dropped")), 1));
        settings.addScanPath(withFiles(folder(4, QStringLiteral("/in/Case")), 4));

        ScanPath movedA = folder(1, QStringLiteral("/in/elsewhere"), QStringLiteral("/out"), "Q");
        movedA.outputSuffix = QStringLiteral("-new");
        movedA.enabled = false;
        ScanPath sameB = folder(2, QStringLiteral("/in/b"), QStringLiteral("/out/b"));
        sameB.encodeToMP3 = true;
        ScanPath otherCase = folder(4, QStringLiteral("/in/case"));
        ScanPath added = withFiles(folder(0x8001, QStringLiteral("/in/new")), 1);

        settings.replaceScanPaths({sameB, added, movedA, otherCase});
        const QList<ScanPath> folders = settings.scanPaths();
        QCOMPARE(folders.size(), 4);

        QCOMPARE(folders[0].id, 2);
        QCOMPARE(folders[0].outputPath, QStringLiteral("/out/b"));
        QVERIFY(folders[0].encodeToMP3);
        QCOMPARE(folders[0].scannedFiles.size(), 3);

        QCOMPARE(folders[1].id, 0x8001);
        QCOMPARE(folders[1].path, QStringLiteral("/in/new"));
        QCOMPARE(folders[1].scannedFiles.size(), 1);

        QCOMPARE(folders[2].id, 1);
        QCOMPARE(folders[2].path, QStringLiteral("/in/elsewhere"));
        QCOMPARE(folders[2].preset, QByteArray("Q"));
        QCOMPARE(folders[2].outputSuffix, QStringLiteral("-new"));
        QVERIFY(!folders[2].enabled);
        QVERIFY(folders[2].scannedFiles.isEmpty());

        // Only another letter case: the same folder where paths ignore case.
        QCOMPARE(folders[3].path, QStringLiteral("/in/case"));
        QCOMPARE(folders[3].scannedFiles.size(), caseBlindPaths() ? 4 : 0);
    }

    void replaceWithEmptyListDropsAll()
    {
        Settings settings;
        settings.addScanPath(folder(1, QStringLiteral("/in/a")));
        settings.replaceScanPaths({});
        QVERIFY(settings.scanPaths().isEmpty());
    }

    void assignFromKeepsIdAndFiles()
    {
        ScanPath target = withFiles(folder(5, QStringLiteral("/in/a")), 2);
        ScanPath source = withFiles(folder(9, QStringLiteral("/in/z"), QStringLiteral("/o"), "Z"), 7);
        source.preProcessing_Result = 4;
        target.assignFrom(source);
        QCOMPARE(target.id, 5);
        QCOMPARE(target.scannedFiles.size(), 2);
        QCOMPARE(target.path, QStringLiteral("/in/z"));
        QCOMPARE(target.preset, QByteArray("Z"));
        QCOMPARE(target.preProcessing_Result, 4);
    }

    void findScanPath()
    {
        Settings settings;
        settings.addScanPath(folder(1, QStringLiteral("/Music/In"), QStringLiteral("/Music/Out"), "Voice"));
        settings.addScanPath(folder(2, QStringLiteral("/music/in"), QStringLiteral("/music/out"), "Voice"));

        ScanPath* exact = settings.findScanPath(QStringLiteral("/music/in"), QStringLiteral("/music/out"), "Voice");
        QVERIFY(exact);
        QCOMPARE(exact->id, caseBlindPaths() ? 1 : 2);
        QVERIFY(!settings.findScanPath(QStringLiteral("/music/in"), QStringLiteral("/music/out"), "voice"));
        QVERIFY(!settings.findScanPath(QStringLiteral("/music/in"), QStringLiteral("/music/out/"), "Voice"));
        QVERIFY(!settings.findScanPath(QStringLiteral("/music/in"), QString(), "Voice"));

        // The result refers into the list itself.
        exact->enabled = false;
        QVERIFY(!settings.scanPaths()[exact->id - 1].enabled);
    }

    void findDialogScanPath()
    {
        Settings settings;
        settings.addScanPath(folder(1, QStringLiteral("/in/a")));
        ScanPath dialog = folder(2, QStringLiteral("/in/a"), QStringLiteral("/other"));
        dialog.showDialog = true;
        settings.addScanPath(dialog);
        ScanPath* found = settings.findDialogScanPath(QStringLiteral("/in/a"));
        QVERIFY(found);
        QCOMPARE(found->id, 2);
        QCOMPARE(settings.findDialogScanPath(QStringLiteral("/IN/A")) != nullptr, caseBlindPaths());
        QVERIFY(!settings.findDialogScanPath(QStringLiteral("/in/b")));
    }

    void renumber()
    {
        Settings settings;
        settings.addScanPath(folder(0x8001, QStringLiteral("/a")));
        settings.addScanPath(folder(0x8002, QStringLiteral("/b")));
        settings.addScanPath(folder(0, QStringLiteral("/c")));
        settings.renumberScanPaths();
        const QList<ScanPath> folders = settings.scanPaths();
        QCOMPARE(folders[0].id, 1);
        QCOMPARE(folders[1].id, 2);
        QCOMPARE(folders[2].id, 3);
    }

    void derivedValues()
    {
        ScanPath s = folder(1, QStringLiteral("/in"), QString(), "Voice");
        QCOMPARE(s.outputFolder(), QStringLiteral("/in"));
        s.outputPath = QStringLiteral("/out");
        QCOMPARE(s.outputFolder(), QStringLiteral("/out"));
        QCOMPARE(s.describe(), QStringLiteral("In: /in out: /out preset: Voice"));
        QCOMPARE(s.duplicateKey(), QDir::toNativeSeparators(QStringLiteral("/in")) + QLatin1Char('\n')
                                       + QDir::toNativeSeparators(QStringLiteral("/out")) + QStringLiteral("\nVoice"));
        ScanPath twin = s;
        twin.id = 2;
        twin.enabled = false;
        QVERIFY(s.sameTarget(twin));
        // Duplicates are decided case-sensitively on every platform.
        twin.path = QStringLiteral("/IN");
        QVERIFY(!s.sameTarget(twin));
    }

    void toOptions()
    {
        ScanPath s = folder(3, QStringLiteral("/in"), QStringLiteral("/out"), "Voice \xc3\xa4");
        s.showDialog = true;
        s.encodeToMP3_suffix = QStringLiteral("-m");
        s.preProcessing_Result = 6;
        ProcessingOptions options;
        options.cleanUpIntermediate = false;
        s.toOptions(options);
        QVERIFY(options.fromWatchFolder);
        QCOMPARE(options.watchFolderPath, QStringLiteral("/in"));
        QCOMPARE(options.preset, QStringLiteral("Voice ä"));
        QCOMPARE(options.outputPath, QStringLiteral("/out"));
        QCOMPARE(options.outputSuffix, QStringLiteral("-{presetName}"));
        QCOMPARE(options.encodeToMP3_suffix, QStringLiteral("-m"));
        QCOMPARE(options.preProcessing_Result, 6);
        QVERIFY(options.showDialog && options.enabled);
        QVERIFY(!options.cleanUpIntermediate);
    }
};

QTEST_GUILESS_MAIN(TestScanPaths)
#include "test_scanpaths.moc"
