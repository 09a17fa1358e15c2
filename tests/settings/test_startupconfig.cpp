#include "settings/settings.h"
#include "settings/startupconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const char* const kFailedHost = "Failed to read the first line or file is empty (host.txt).";

} // namespace

class TestStartupConfig : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

private slots:
    void init() { startup::setApiBaseUrl(startup::defaultApiBaseUrl()); }

    void defaultIsHttpsApi()
    {
        const QUrl url(QString::fromUtf8(startup::defaultApiBaseUrl()));
        QCOMPARE(url.scheme(), QStringLiteral("https"));
        QVERIFY(url.path().endsWith(QStringLiteral("/api")));
        QCOMPARE(startup::apiBaseUrl(), startup::defaultApiBaseUrl());
    }

    void isValidUrl_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("https") << QByteArray("https://api.example.com/api") << true;
        QTest::newRow("http with port") << QByteArray("http://127.0.0.1:8080/api") << true;
        QTest::newRow("bare host") << QByteArray("api.example.com") << false;
        QTest::newRow("relative path") << QByteArray("/api") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("blank in host") << QByteArray("http://a b/") << false;
        QTest::newRow("leading blank") << QByteArray(" https://x.example/api") << false;
    }

    void isValidUrl()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QCOMPARE(startup::isValidUrl(text), valid);
    }

    void readFirstLine()
    {
        writeFile(file("crlf.txt"), "https://a.example/api\r\nsecond\n");
        QCOMPARE(startup::readFirstLine(file("crlf.txt")), QByteArray("https://a.example/api\r"));
        QCOMPARE(startup::readFirstTextLine(file("crlf.txt")), QByteArray("https://a.example/api"));
        writeFile(file("noeol.txt"), "  one line \t");
        QCOMPARE(startup::readFirstLine(file("noeol.txt")), QByteArray("  one line \t"));
        writeFile(file("emptyfirst.txt"), "\nhttps://a.example/api\n");
        QCOMPARE(startup::readFirstLine(file("emptyfirst.txt")), QByteArray());
        writeFile(file("empty.txt"), QByteArray());
        QCOMPARE(startup::readFirstLine(file("empty.txt")), QByteArray());
        QCOMPARE(startup::readFirstLine(file("missing.txt")), QByteArray());
    }

    void hostOverride_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("valid") << QByteArray("http://127.0.0.1:9/api\nignored") << QByteArray("http://127.0.0.1:9/api");
        QTest::newRow("crlf") << QByteArray("http://127.0.0.1:9/api\r\n") << QByteArray("http://127.0.0.1:9/api");
        QTest::newRow("bare host") << QByteArray("host.example\n") << QByteArray();
        QTest::newRow("empty first line") << QByteArray("\nhttp://127.0.0.1:9/api") << QByteArray();
    }

    void hostOverride()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        writeFile(file("host.txt"), content);
        if (expected.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, kFailedHost);
        else
            QTest::ignoreMessage(QtInfoMsg, QByteArray("Read from host.txt: " + expected).constData());
        QCOMPARE(startup::applyHostOverride(file("host.txt")), !expected.isEmpty());
        QCOMPARE(startup::apiBaseUrl(), expected.isEmpty() ? startup::defaultApiBaseUrl() : expected);
    }

    void hostOverrideMissingFile()
    {
        QTest::ignoreMessage(QtInfoMsg, kFailedHost);
        QVERIFY(!startup::applyHostOverride(file("absent-host.txt")));
        QCOMPARE(startup::apiBaseUrl(), startup::defaultApiBaseUrl());
    }

    void apiUrlPrecedence_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("valid apiURL wins") << QByteArray("https://stored.example/api")
                                           << QByteArray("http://host.example/api") << QByteArray("https://stored.example/api");
        QTest::newRow("empty apiURL") << QByteArray() << QByteArray("http://host.example/api")
                                      << QByteArray("http://host.example/api");
        QTest::newRow("invalid apiURL") << QByteArray("stored.example") << QByteArray("http://host.example/api")
                                        << QByteArray("http://host.example/api");
    }

    void apiUrlPrecedence()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, base);
        QFETCH(QByteArray, expected);
        const QString path = file("settings.xml");
        writeFile(path, "<?xml version=\"1.0\"?><Settings><wUsername>u</wUsername><apiURL>" + stored
                            + "</apiURL></Settings>");
        startup::setApiBaseUrl(base);
        Settings settings;
        startup::loadSettings(settings, path);
        QCOMPARE(settings.wUsername, QByteArray("u"));
        QCOMPARE(settings.apiURL, expected);
        QCOMPARE(startup::apiBaseUrl(), expected);
    }

    void missingFilesLeaveDefaults()
    {
        Settings settings;
        // Replaced even when set: without the file there is no version check.
        settings.versionCheckUrl = "http://127.0.0.1:9/files/misc/check.txt";
        startup::loadSettings(settings, file("no-settings.xml"));
        QVERIFY(settings.showFirstTime_AddWatchFolderDialog);
        QCOMPARE(settings.apiURL, startup::defaultApiBaseUrl());
        QCOMPARE(startup::versionUrlFilePath(), QCoreApplication::applicationDirPath() + QStringLiteral("/curversionurl.txt"));
        if (QFile::exists(startup::versionUrlFilePath()))
            QSKIP("a curversionurl.txt lies next to the test executable");
        QCOMPARE(settings.versionCheckUrl, QByteArray());
    }

    void settingsFilePath()
    {
        QCOMPARE(startup::settingsFilePath(), QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
                                                  + QStringLiteral("/settings.xml"));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Sonvira desktop"));
    QCoreApplication app(argc, argv);
    TestStartupConfig test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_startupconfig.moc"
