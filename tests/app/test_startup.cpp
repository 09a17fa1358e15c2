// Start-up of the real client executable: address choice, settings written
// back at exit, single instance. Each run gets its own configuration,
// runtime and working folders, and is stopped with SIGTERM like a user's
// session would stop it.
#include "clientprocess.h"
#include "settings/startupconfig.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

using namespace clientprocess;

const char* const kReady = "Main window ready";
const char* const kFailedHost = "Failed to read the first line or file is empty (host.txt).";
const char* const kRefused = "Another instance of the Sonvira client is already running.";

// Stored credentials, so that no log-in is asked for at start.
const QByteArray kCredentials = "<rememberPassword>true</rememberPassword>"
                                "<wUsername>me@example.com</wUsername><wPassword>3d3e3f</wPassword>";

// The file the client writes for these settings with this address.
QByteArray expectedSettingsXml(const QByteArray& apiUrl)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Settings>\n"
           "    <showFirstTime_AddWatchFolderDialog>true</showFirstTime_AddWatchFolderDialog>\n"
           "    <hideWhenClosed>false</hideWhenClosed>\n"
           "    <rememberPassword>true</rememberPassword>\n"
           "    <FFMPEGPath></FFMPEGPath>\n"
           "    <apiURL>" + apiUrl + "</apiURL>\n"
           "    <wUsername>me@example.com</wUsername>\n"
           "    <wPassword>3d3e3f</wPassword>\n"
           "</Settings>\n";
}

// Starts the client, waits until its window is up, stops it; returns the log.
// A client that ends or is not up within 30 s fails the current test.
QString runOnce(const Sandbox& sandbox, int* exitCode = nullptr)
{
    ClientRun run(sandbox);
    const QDeadlineTimer deadline(30000);
    while (!run.logged(kReady) && run.running() && !deadline.hasExpired())
        QTest::qWait(20);
    if (!run.logged(kReady)) {
        const QString why = run.running() ? QStringLiteral("was not up within 30 s") : QStringLiteral("ended before");
        QTest::qFail(qPrintable(QStringLiteral("the client %1 logging \"%2\":\n%3")
                                    .arg(why, QString::fromUtf8(kReady), run.log())),
                     __FILE__, __LINE__);
    }
    const int code = run.stop();
    if (exitCode)
        *exitCode = code;
    return run.log();
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void addressChoice_data()
    {
        QTest::addColumn<QByteArray>("hostTxt");
        QTest::addColumn<QByteArray>("storedApiUrl");
        QTest::addColumn<QByteArray>("logLine");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray fallback = startup::defaultApiBaseUrl();
        const QByteArray host = "http://127.0.0.1:9/api";
        const QByteArray read = "Read from host.txt: " + host;
        QTest::newRow("nothing configured") << QByteArray() << QByteArray() << QByteArray(kFailedHost) << fallback;
        QTest::newRow("valid host.txt") << host + "\nsecond line\n" << QByteArray() << read << host;
        QTest::newRow("crlf line end") << host + "\r\n" << QByteArray() << read << host;
        QTest::newRow("bare host name") << QByteArray("127.0.0.1\n") << QByteArray() << QByteArray(kFailedHost)
                                        << fallback;
        QTest::newRow("empty first line") << "\n" + host << QByteArray() << QByteArray(kFailedHost) << fallback;
        QTest::newRow("stored apiURL wins") << host << QByteArray("https://stored.example/api") << read
                                            << QByteArray("https://stored.example/api");
        QTest::newRow("invalid apiURL") << host << QByteArray("stored.example") << read << host;
    }

    void addressChoice()
    {
        QFETCH(QByteArray, hostTxt);
        QFETCH(QByteArray, storedApiUrl);
        QFETCH(QByteArray, logLine);
        QFETCH(QByteArray, expected);
        Sandbox sandbox;
        if (!hostTxt.isEmpty())
            writeFile(sandbox.hostFile(), hostTxt);
        writeFile(sandbox.settingsFile(), "<Settings>" + kCredentials + "<apiURL>" + storedApiUrl + "</apiURL></Settings>");

        int exitCode = -1;
        const QString log = runOnce(sandbox, &exitCode);
        QVERIFY2(log.split(QLatin1Char('\n')).contains(QString::fromUtf8(logLine)), qPrintable(log));
        QVERIFY2(log.contains(QLatin1String("Main window deleted")), qPrintable(log));
        QCOMPARE(exitCode, 0);
        QCOMPARE(contentOf(sandbox.settingsFile()), expectedSettingsXml(expected));
        QCOMPARE(QFile::permissions(sandbox.settingsFile()) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    void addressPersistsOverLaterHostFile()
    {
        Sandbox sandbox;
        writeFile(sandbox.settingsFile(), "<Settings>" + kCredentials + "</Settings>");
        runOnce(sandbox);
        QCOMPARE(contentOf(sandbox.settingsFile()), expectedSettingsXml(startup::defaultApiBaseUrl()));
        writeFile(sandbox.hostFile(), "http://127.0.0.1:9/api\n");
        const QString log = runOnce(sandbox);
        QVERIFY2(log.contains(QLatin1String("Read from host.txt: http://127.0.0.1:9/api")), qPrintable(log));
        QCOMPARE(contentOf(sandbox.settingsFile()), expectedSettingsXml(startup::defaultApiBaseUrl()));
    }

    void handWrittenSettingsComeBackInOrder()
    {
        Sandbox sandbox;
        writeFile(sandbox.settingsFile(),
                  "<?xml version=\"1.0\"?>\n"
                  "<Settings>\n"
                  "  <wUsername>me@example.com</wUsername>\n"
                  "  <unknown><nested>x</nested></unknown>\n"
                  "  <ScanPath><enabled>True</enabled><path>/watched</path>"
                  "<ScannedFile><fileSize>oops</fileSize><filePath>/watched/a.wav</filePath></ScannedFile>"
                  "<ScannedFile><filePath>/watched/b.wav</filePath></ScannedFile></ScanPath>\n"
                  "  <rememberPassword>true</rememberPassword>\n"
                  "  <wPassword>3d3e3</wPassword>\n"
                  "  <hideWhenClosed>true</hideWhenClosed>\n"
                  "  <apiURL>http://127.0.0.1:9/api</apiURL>\n"
                  "</Settings>\n");
        runOnce(sandbox);
        const QByteArray expected =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Settings>\n"
            "    <showFirstTime_AddWatchFolderDialog>true</showFirstTime_AddWatchFolderDialog>\n"
            "    <hideWhenClosed>true</hideWhenClosed>\n"
            "    <rememberPassword>true</rememberPassword>\n"
            "    <FFMPEGPath></FFMPEGPath>\n"
            "    <apiURL>http://127.0.0.1:9/api</apiURL>\n"
            "    <wUsername>me@example.com</wUsername>\n"
            "    <wPassword>3d3e03</wPassword>\n"
            "    <ScanPath>\n"
            "        <path>/watched</path>\n"
            "        <showDialog>false</showDialog>\n"
            "        <preset></preset>\n"
            "        <encodeToMP3_bitRate>160</encodeToMP3_bitRate>\n"
            "        <outputPath></outputPath>\n"
            "        <outputSuffix>-{presetName}</outputSuffix>\n"
            "        <enabled>false</enabled>\n"
            "        <encodeToMP3>false</encodeToMP3>\n"
            "        <encodeToMP3_suffix></encodeToMP3_suffix>\n"
            "        <deleteWAVafterMP3Encoding>false</deleteWAVafterMP3Encoding>\n"
            "        <postProcessing_Arguments></postProcessing_Arguments>\n"
            "        <preProcessing_Arguments></preProcessing_Arguments>\n"
            "        <preProcessing_Result>2</preProcessing_Result>\n"
            "        <monoProcessing_ConvertToDualStereo>false</monoProcessing_ConvertToDualStereo>\n"
            "        <monoProcessing_KeepConverted>false</monoProcessing_KeepConverted>\n"
            "        <ScannedFile>\n"
            "            <filePath>/watched/a.wav</filePath>\n"
            "            <fileSize>0</fileSize>\n"
            "            <MD5></MD5>\n"
            "        </ScannedFile>\n"
            "        <ScannedFile>\n"
            "            <filePath>/watched/b.wav</filePath>\n"
            "            <fileSize>-1</fileSize>\n"
            "            <MD5></MD5>\n"
            "        </ScannedFile>\n"
            "        <recursive>false</recursive>\n"
            "        <settleSeconds>3</settleSeconds>\n"
            "    </ScanPath>\n"
            "</Settings>\n";
        QCOMPARE(contentOf(sandbox.settingsFile()), expected);
    }

    // Without stored credentials the login dialog is asked for; a session
    // that ends while it is open (the termination signal dismisses it like
    // "Cancel") ends with -1 and writes no settings.
    void unansweredLoginEndsWithoutSettings()
    {
        Sandbox sandbox;
        writeFile(sandbox.settingsFile(), "<Settings><wUsername>me@example.com</wUsername></Settings>");
        const QByteArray before = contentOf(sandbox.settingsFile());
        int exitCode = 0;
        const QString log = runOnce(sandbox, &exitCode);
        QVERIFY2(log.contains(QLatin1String(kReady)), qPrintable(log));
        QCOMPARE(exitCode, 255);
        QVERIFY2(!log.contains(QLatin1String("Main window deleted")), qPrintable(log));
        QCOMPARE(contentOf(sandbox.settingsFile()), before);
    }

    void singleInstance()
    {
        Sandbox sandbox;
        // As the first copy writes it, which keeps it up to date while it runs.
        writeFile(sandbox.settingsFile(), expectedSettingsXml(startup::defaultApiBaseUrl()));
        ClientRun first(sandbox);
        QTRY_VERIFY_WITH_TIMEOUT(first.logged(kReady), 30000);
        const QByteArray before = contentOf(sandbox.settingsFile());

        {
            // The second copy shows its box and waits; a termination signal
            // dismisses the box like its OK button.
            ClientRun second(sandbox);
            QTRY_VERIFY_WITH_TIMEOUT(second.logged(kRefused), 30000);
            QCOMPARE(second.stop(), 1);
            QVERIFY(!second.log().contains(QLatin1String(kReady)));
        }
        QVERIFY(first.running());
        QCOMPARE(contentOf(sandbox.settingsFile()), before);

        // A crashed copy leaves nothing that blocks the next start.
        first.crash();
        QVERIFY(!first.running());
        int exitCode = -1;
        const QString log = runOnce(sandbox, &exitCode);
        QVERIFY2(log.contains(QLatin1String(kReady)), qPrintable(log));
        QCOMPARE(exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
