// The version check against a small HTTP server of the test: what each kind
// of answer makes of the label, the limits on size, and the wiring in the
// main window.
#include "app/versioncheck.h"
#include "clientfixture.h"
#include "settings/settings.h"
#include "tests/pipeline/cannedhttpserver.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray kPath = "/files/misc/check.txt";

QString link(const QString& href, const QString& text)
{
    return "<a href=\"" + href + "\" style=\"color: white; text-decoration: none;\">" + text + "</a>";
}

} // namespace

class TestVersionCheck : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void noRequestWithoutAddress();
    void mainWindowChecksOnceAfterStart();
};

void TestVersionCheck::answers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("webSite");

    const QByteArray site = Settings().webSiteUrl;
    const QString hint = QStringLiteral("Please check manually for software update");
    const QString newer = link(QString::fromUtf8(QUrl(QString::fromUtf8(site)).toEncoded()), "New version available");
    QTest::newRow("newer") << 200 << QByteArray("0.0997") << newer << site;
    // An empty second line reads as no text, an empty third one as no address.
    QTest::newRow("newer with line feed") << 200 << QByteArray("0.0997\n") << newer << site;
    QTest::newRow("text with line feed") << 200 << QByteArray("0.0997\nVersion 1.0 is out\n")
                                         << link(QString::fromUtf8(QUrl(QString::fromUtf8(site)).toEncoded()),
                                                 "Version 1.0 is out")
                                         << site;
    QTest::newRow("equal") << 200 << QByteArray("0.0996\nNew!\nhttps://dl.example/") << "-" << site;
    QTest::newRow("older") << 200 << QByteArray("0.09") << "-" << site;
    QTest::newRow("not a number") << 200 << QByteArray("v1.0\nNew!") << "-" << site;
    QTest::newRow("empty first line") << 200 << QByteArray("\nA new version") << "-" << site;
    QTest::newRow("empty answer") << 200 << QByteArray() << "-" << site;
    QTest::newRow("three lines") << 200 << QByteArray("0.1\nGet version 1.0\nhttps://dl.example/get?v=1&os=win")
                                 << link("https://dl.example/get?v=1&amp;os=win", "Get version 1.0")
                                 << QByteArray("https://dl.example/get?v=1&os=win");
    QTest::newRow("crlf lines") << 200 << QByteArray("0.1\r\nGet it\r\nhttp://dl.example/\r\n")
                                << link("http://dl.example/", "Get it") << QByteArray("http://dl.example/");
    QTest::newRow("javascript link") << 200 << QByteArray("0.1\nClick\njavascript:alert(1)") << "-" << site;
    QTest::newRow("file link") << 200 << QByteArray("0.1\nClick\nfile:///etc/passwd") << "-" << site;
    QTest::newRow("markup in the text")
        << 200 << QByteArray("0.1\n<b>New</b> & <img src=x>\nhttps://dl.example/\"onclick=\"x")
        << link("https://dl.example/%22onclick=%22x", "&lt;b&gt;New&lt;/b&gt; &amp; &lt;img src=x&gt;")
        << QByteArray("https://dl.example/\"onclick=\"x");
    QTest::newRow("http error") << 404 << QByteArray("0.2") << hint << site;
    QByteArray limit = "0.1\nAt the limit\nhttps://dl.example/\n";
    limit += QByteArray(int(VersionCheck::kMaxAnswerBytes - limit.size()), 'x');
    QTest::newRow("answer at the size limit") << 200 << limit << link("https://dl.example/", "At the limit")
                                              << QByteArray("https://dl.example/");
    QTest::newRow("oversized answer") << 200 << limit + 'x' << hint << site;
    QTest::newRow("huge answer") << 200 << "0.1\n" + QByteArray(4 << 20, 'x') << hint << site;
}

void TestVersionCheck::answers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, label);
    QFETCH(QByteArray, webSite);

    CannedHttpServer server;
    server.setReply(kPath, status, body, "text/plain");
    Settings settings;
    settings.versionCheckUrl = server.apiUrl() + kPath;
    QNetworkAccessManager network;
    QLabel versionLabel(QStringLiteral("-"));
    VersionCheck check(settings, network, versionLabel);
    QObject::connect(&network, &QNetworkAccessManager::finished, &network,
                     [&check](QNetworkReply* reply) { check.evaluate(reply); });
    QSignalSpy finished(&network, &QNetworkAccessManager::finished);

    QNetworkReply* reply = check.start();
    QVERIFY(reply);
    QCOMPARE(reply->request().transferTimeout(), VersionCheck::kTimeoutMs);
    QVERIFY(finished.wait(10000));
    QCOMPARE(versionLabel.text(), label);
    QCOMPARE(settings.webSiteUrl, webSite);
    if (label.startsWith(QLatin1String("<a "))) {
        QVERIFY(versionLabel.openExternalLinks());
        QCOMPARE(versionLabel.textFormat(), Qt::RichText);
        QVERIFY(versionLabel.textInteractionFlags().testFlag(Qt::LinksAccessibleByKeyboard));
    }
    QCOMPARE(server.requests().size(), 1);
}

void TestVersionCheck::noRequestWithoutAddress()
{
    Settings settings;
    QNetworkAccessManager network;
    QLabel versionLabel(QStringLiteral("-"));
    VersionCheck check(settings, network, versionLabel);
    for (const char* address : {"", "http", "a:/b"}) {
        settings.versionCheckUrl = address;
        QVERIFY2(!check.start(), address);
    }
    settings.versionCheckUrl = "a://b";
    QNetworkReply* reply = check.start();
    QVERIFY(reply);
    reply->abort();
    reply->deleteLater();
}

void TestVersionCheck::mainWindowChecksOnceAfterStart()
{
    CannedHttpServer server;
    server.setReply(kPath, 200, "0.5\nVersion 5\nhttps://dl.example/", "text/plain");
    ClientFixture client;
    client.settings.versionCheckUrl = server.apiUrl() + kPath;
    auto* versionLabel = client.window->findChild<QLabel*>(QStringLiteral("lblNewVersion"));
    QCOMPARE(versionLabel->text(), QStringLiteral("-"));
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(versionLabel->text(), link("https://dl.example/", "Version 5"), 5000);
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().method, QByteArray("GET"));
}

QTEST_MAIN(TestVersionCheck)
#include "tst_versioncheck.moc"
