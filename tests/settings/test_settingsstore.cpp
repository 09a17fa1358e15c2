#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray settingsXml(const QByteArray& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings>\n" + children + "</Settings>\n";
}

ScanPath sampleFolder()
{
    ScanPath s;
    s.path = QStringLiteral("/music/in");
    s.showDialog = true;
    s.preset = "Voice & <Podcast>";
    s.encodeToMP3_bitRate = QStringLiteral("192");
    s.outputPath = QStringLiteral("/music/out");
    s.outputSuffix = QStringLiteral(" - {presetName}");
    s.enabled = false;
    s.encodeToMP3 = true;
    s.encodeToMP3_suffix = QStringLiteral("-mp3");
    s.deleteWAVafterMP3Encoding = true;
    s.postProcessing_Arguments = QStringLiteral("lufs=-16\ntp=-1");
    s.preProcessing_Arguments = QStringLiteral("nr");
    s.preProcessing_Result = 6;
    s.monoProcessing_ConvertToDualStereo = true;
    s.monoProcessing_KeepConverted = true;
    s.id = 7;
    s.scannedFiles.append({QStringLiteral("/music/in/a.wav"), 5000000000LL, "0123456789abcdef0123456789abcdef"});
    s.scannedFiles.append({QStringLiteral("/music/in/b.wav"), -1, QByteArray()});
    return s;
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

private slots:
    void savedFormatIsExact()
    {
        Settings settings;
        settings.showFirstTime_AddWatchFolderDialog = false;
        settings.hideWhenClosed = true;
        settings.rememberPassword = true;
        settings.FFMPEGPath = "/opt/ffmpeg";
        settings.apiURL = "https://h.example/api";
        settings.wUsername = "user@h.example";
        settings.wPassword = QByteArray("\x00\x0a\xff", 3);
        settings.addScanPath(sampleFolder());
        const QString path = file("exact.xml");
        QVERIFY(settings.save(path, true));

        const QByteArray expected = settingsXml(
            "    <showFirstTime_AddWatchFolderDialog>false</showFirstTime_AddWatchFolderDialog>\n"
            "    <hideWhenClosed>true</hideWhenClosed>\n"
            "    <rememberPassword>true</rememberPassword>\n"
            "    <FFMPEGPath>/opt/ffmpeg</FFMPEGPath>\n"
            "    <apiURL>https://h.example/api</apiURL>\n"
            "    <wUsername>user@h.example</wUsername>\n"
            "    <wPassword>5c56a3</wPassword>\n"
            "    <ScanPath>\n"
            "        <path>/music/in</path>\n"
            "        <showDialog>true</showDialog>\n"
            "        <preset>Voice &amp; &lt;Podcast&gt;</preset>\n"
            "        <encodeToMP3_bitRate>192</encodeToMP3_bitRate>\n"
            "        <outputPath>/music/out</outputPath>\n"
            "        <outputSuffix> - {presetName}</outputSuffix>\n"
            "        <enabled>false</enabled>\n"
            "        <encodeToMP3>true</encodeToMP3>\n"
            "        <encodeToMP3_suffix>-mp3</encodeToMP3_suffix>\n"
            "        <deleteWAVafterMP3Encoding>true</deleteWAVafterMP3Encoding>\n"
            "        <postProcessing_Arguments>lufs=-16\ntp=-1</postProcessing_Arguments>\n"
            "        <preProcessing_Arguments>nr</preProcessing_Arguments>\n"
            "        <preProcessing_Result>6</preProcessing_Result>\n"
            "        <monoProcessing_ConvertToDualStereo>true</monoProcessing_ConvertToDualStereo>\n"
            "        <monoProcessing_KeepConverted>true</monoProcessing_KeepConverted>\n"
            "        <ScannedFile>\n"
            "            <filePath>/music/in/a.wav</filePath>\n"
            "            <fileSize>5000000000</fileSize>\n"
            "            <MD5>0123456789abcdef0123456789abcdef</MD5>\n"
            "        </ScannedFile>\n"
            "        <ScannedFile>\n"
            "            <filePath>/music/in/b.wav</filePath>\n"
            "            <fileSize>-1</fileSize>\n"
            "            <MD5></MD5>\n"
            "        </ScannedFile>\n"
            "        <recursive>false</recursive>\n"
            "        <settleSeconds>3</settleSeconds>\n"
            "    </ScanPath>\n");
        QCOMPARE(contentOf(path), expected);
#ifdef Q_OS_UNIX
        QCOMPARE(QFile::permissions(path), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
#endif
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("exact.xml")});
    }

    void roundTripKeepsEveryValue()
    {
        Settings written;
        written.showFirstTime_AddWatchFolderDialog = false;
        written.rememberPassword = true;
        written.wPassword = "p\xc3\xa4ss w\"rd<>";
        written.wUsername = "n\xc3\xa4me";
        written.apiURL = "http://127.0.0.1:8080/api";
        // A name XML cannot hold as it is (a control character) comes back
        // whole, and so does one that only looks escaped.
        ScanPath folder = sampleFolder();
        const QString oddName = QStringLiteral("/music/in/take\x01 100%25.wav");
        folder.scannedFiles.append({oddName, 7, "fedcba9876543210fedcba9876543210"});
        written.addScanPath(folder);
        written.addScanPath(ScanPath());
        const QString path = file("roundtrip.xml");
        QVERIFY(written.save(path, false));

        Settings read;
        QVERIFY(read.load(path));
        QCOMPARE(read.showFirstTime_AddWatchFolderDialog, false);
        QCOMPARE(read.hideWhenClosed, false);
        QCOMPARE(read.rememberPassword, true);
        QCOMPARE(read.wPassword, written.wPassword);
        QCOMPARE(read.wUsername, written.wUsername);
        QCOMPARE(read.apiURL, written.apiURL);
        const QList<ScanPath> folders = read.scanPaths();
        QCOMPARE(folders.size(), 2);
        ScanPath expected = sampleFolder();
        expected.id = 0;
        QCOMPARE(folders[0].duplicateKey(), expected.duplicateKey());
        ProcessingOptions a, b;
        folders[0].toOptions(a);
        expected.toOptions(b);
        QCOMPARE(a.outputSuffix, b.outputSuffix);
        QCOMPARE(a.postProcessing_Arguments, b.postProcessing_Arguments);
        QCOMPARE(a.preProcessing_Result, 6);
        QVERIFY(a.showDialog && !a.enabled && a.encodeToMP3 && a.deleteWAVafterMP3Encoding);
        QVERIFY(a.monoProcessing_ConvertToDualStereo && a.monoProcessing_KeepConverted);
        QCOMPARE(a.encodeToMP3_bitRate, QStringLiteral("192"));
        QCOMPARE(a.encodeToMP3_suffix, QStringLiteral("-mp3"));
        QCOMPARE(folders[0].scannedFiles.size(), 3);
        QCOMPARE(folders[0].scannedFiles[2].filePath, oddName);
        QCOMPARE(folders[0].scannedFiles[0].fileSize, 5000000000LL);
        QCOMPARE(folders[0].scannedFiles[0].MD5, QByteArray("0123456789abcdef0123456789abcdef"));
        QVERIFY(folders[0].scannedFiles[1].isPlaceholder());
        QCOMPARE(folders[1].outputSuffix, QStringLiteral("-{presetName}"));
        QCOMPARE(folders[1].preProcessing_Result, 2);
        QVERIFY(folders[1].enabled);
    }

    void passwordOnlyWhenRemembered()
    {
        Settings settings;
        settings.wPassword = "secret";
        const QString path = file("nopass.xml");
        QVERIFY(settings.save(path, true));
        QVERIFY(!contentOf(path).contains("wPassword"));

        settings.rememberPassword = true;
        settings.wPassword.clear();
        QVERIFY(settings.save(path, true));
        QVERIFY(contentOf(path).contains("    <wPassword></wPassword>\n"));
    }

    void passwordScrambling_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("password");
        // The key is 0x5c: "5c" is the byte 0, "3d" is 'a' (0x61).
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one byte") << QByteArray("3d") << QByteArray("a");
        QTest::newRow("three bytes") << QByteArray("3d3e3f") << QByteArray("abc");
        QTest::newRow("upper case hex") << QByteArray("3D") << QByteArray("a");
        QTest::newRow("odd length") << QByteArray("3d5") << QByteArray("aY");
        QTest::newRow("non-hex pieces") << QByteArray("zz3dg1") << QByteArray("\x5c" "a\x5c");
        QTest::newRow("signed piece") << QByteArray("-1") << QByteArray("\x5c");
    }

    void passwordScrambling()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, password);
        const QString path = file("password.xml");
        writeFile(path, settingsXml("<wPassword>" + text + "</wPassword>"));
        Settings settings;
        QVERIFY(settings.load(path));
        QCOMPARE(settings.wPassword, password);
    }

    void readingRules()
    {
        const QString path = file("rules.xml");
        writeFile(path, "<?xml version=\"1.0\"?>\n"
                        "<Other><apiURL>http://wrong.example/</apiURL></Other>\n");
        Settings skipped;
        QVERIFY(skipped.load(path));
        QVERIFY(skipped.apiURL.isEmpty());

        writeFile(path, settingsXml("<unknown><apiURL>http://wrong.example/</apiURL><x/></unknown>"
                                    "<hideWhenClosed>True</hideWhenClosed>"
                                    "<rememberPassword>true</rememberPassword>"
                                    "<ScanPath><showDialog>True</showDialog><extra><path>/wrong</path></extra>"
                                    "<enabled>yes</enabled><preProcessing_Result>abc</preProcessing_Result>"
                                    "<ScannedFile><MD5>ff</MD5></ScannedFile>"
                                    "<ScannedFile><fileSize>12x</fileSize></ScannedFile>"
                                    "<path>/right</path></ScanPath>"
                                    "<ScanPath><preProcessing_Result>-3</preProcessing_Result></ScanPath>"));
        Settings settings;
        QVERIFY(settings.load(path));
        QVERIFY(settings.apiURL.isEmpty());
        QVERIFY(!settings.hideWhenClosed);
        QVERIFY(settings.rememberPassword);
        const QList<ScanPath> folders = settings.scanPaths();
        QCOMPARE(folders.size(), 2);
        QCOMPARE(folders[0].path, QStringLiteral("/right"));

        // Files processed at the same time: 1 to 4, kept through a save, left out when 1.
        for (const auto& [written, read] : {std::pair{"3", 3}, {"9", 4}, {"0", 1}, {"x", 1}}) {
            writeFile(path, settingsXml(QByteArray("<parallelJobs>") + written + "</parallelJobs>"));
            Settings jobs;
            QVERIFY(jobs.load(path));
            QCOMPARE(jobs.parallelJobs, read);
            QCOMPARE(jobs.toXml().contains("<parallelJobs>"), read != 1);
        }
        QVERIFY(!folders[0].showDialog);
        QVERIFY(!folders[0].enabled);
        QCOMPARE(folders[0].preProcessing_Result, 2);
        QCOMPARE(folders[0].scannedFiles.size(), 2);
        QCOMPARE(folders[0].scannedFiles[0].fileSize, -1);
        QCOMPARE(folders[0].scannedFiles[0].MD5, QByteArray("ff"));
        QCOMPARE(folders[0].scannedFiles[1].fileSize, 0);
        QCOMPARE(folders[1].preProcessing_Result, -3);
    }

    void emptyOrMissingFileKeepsDefaults()
    {
        const QString path = file("empty-element.xml");
        writeFile(path, "<?xml version=\"1.0\"?><Settings/>");
        Settings settings;
        QVERIFY(settings.load(path));
        QVERIFY(settings.showFirstTime_AddWatchFolderDialog);
        QVERIFY(!settings.hideWhenClosed && !settings.rememberPassword);
        QVERIFY(settings.apiURL.isEmpty() && settings.wUsername.isEmpty());
        QVERIFY(settings.scanPaths().isEmpty());

        writeFile(path, QByteArray());
        QVERIFY(settings.load(path));
        QVERIFY(!settings.load(file("does-not-exist.xml")));
        QVERIFY(settings.showFirstTime_AddWatchFolderDialog);
    }

    void malformedFileKeepsWhatWasRead()
    {
        const QString path = file("broken.xml");
        writeFile(path, settingsXml("<hideWhenClosed>true</hideWhenClosed>"
                                    "<ScanPath><path>/first</path></ScanPath>"
                                    "<ScanPath><path>/second</path><enabled>false</enabled><broken"
                                    "<apiURL>http://after.example/</apiURL>"));
        Settings settings;
        QVERIFY(settings.load(path));
        QVERIFY(settings.hideWhenClosed);
        QVERIFY(settings.apiURL.isEmpty());
        const QList<ScanPath> folders = settings.scanPaths();
        QCOMPARE(folders.size(), 2);
        QCOMPARE(folders[0].path, QStringLiteral("/first"));
        QCOMPARE(folders[1].path, QStringLiteral("/second"));
        QVERIFY(!folders[1].enabled);
    }

    // A hand-edited file with a raw "&" in the second folder's path: the
    // error is named by line and column, the file is kept as .bad before
    // anything is written, and no folder without a path appears.
    void unreadableFileIsKeptAndNamed()
    {
        const QString path = file("hand-edited.xml");
        const QByteArray text = settingsXml("<ScanPath><path>/first</path></ScanPath>\n"
                                            "<ScanPath><path>/rock & roll</path></ScanPath>\n"
                                            "<hideWhenClosed>true</hideWhenClosed>\n");
        writeFile(path, text);
        Settings settings;
        QVERIFY(settings.load(path));
        QVERIFY2(settings.loadError().startsWith("line 4, column 24: "), qPrintable(settings.loadError()));
        QCOMPARE(contentOf(path + ".bad"), text);
        const QList<ScanPath> folders = settings.scanPaths();
        QCOMPARE(folders.size(), 1);
        QCOMPARE(folders[0].path, QStringLiteral("/first"));

        writeFile(path, settingsXml("<hideWhenClosed>true</hideWhenClosed>"));
        QFile::remove(path + ".bad");
        QVERIFY(settings.load(path));
        QVERIFY(settings.loadError().isEmpty());
        QVERIFY(!QFile::exists(path + ".bad"));
    }

    void resetLeavesEmptyFile()
    {
        const QString path = file("reset.xml");
        Settings settings;
        settings.wUsername = "someone";
        QVERIFY(settings.save(path, true));
        settings.resetOnRestart = true;
        QVERIFY(settings.save(path, false));
        QVERIFY(contentOf(path).contains("someone"));
        QVERIFY(settings.save(path, true));
        QCOMPARE(contentOf(path), QByteArray());
        QVERIFY(!contentOf(path).contains("resetOnRestart"));
    }

    void failedSaveKeepsOldFile()
    {
        Settings settings;
        QVERIFY(!settings.save(file("no-such-folder/settings.xml"), true));

        // The target exists as a folder: nothing can replace it, and what
        // is in it stays.
        const QString blocked = file("blocked.xml");
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inner")));
        QVERIFY(!settings.save(blocked, true));
        QVERIFY(QFileInfo(blocked + QStringLiteral("/inner")).isDir());
    }

    void saveTightensPermissions()
    {
#ifdef Q_OS_UNIX
        const QString path = file("loose.xml");
        writeFile(path, "old");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        Settings settings;
        QVERIFY(settings.save(path, true));
        QVERIFY(!(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther)));
#else
        QSKIP("POSIX permissions only");
#endif
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
