// The real client with a real Secret Service (run through
// tests/support/with-secret-service.sh): started with a settings.xml that
// holds the scrambled password an older client wrote, it logs in, moves the
// password into the keychain and out of the file; started again, it logs in
// with the keychain's copy, without asking. sonvira-headless tells a locked
// keyring from one that holds no password.
#include "clientprocess.h"
#include "secrettool.h"
#include "serviceprocess.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

using namespace clientprocess;

const char* const kMoved = "The remembered password was moved from settings.xml to the system keychain";

int logIns(const ServiceProcess& service)
{
    return int(QString::fromUtf8(service.log())
                   .count(QRegularExpression(QStringLiteral("^POST /api/Login -> 200"),
                                             QRegularExpression::MultilineOption)));
}

} // namespace

class TestKeychainStart : public QObject {
    Q_OBJECT

private slots:
    void scrambledPasswordMovesToKeychainAndServesTheNextStart()
    {
        if (!qEnvironmentVariableIsSet("SONVIRA_TEST_SECRET_SERVICE"))
            QSKIP("needs the private Secret Service of tests/support/with-secret-service.sh");
        ServiceProcess service;
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        Sandbox sandbox;
        // "demo", each byte XORed with 0x5c, as hexadecimal.
        writeFile(sandbox.settingsFile(),
                  "<Settings><showFirstTime_AddWatchFolderDialog>false</showFirstTime_AddWatchFolderDialog>"
                  "<rememberPassword>true</rememberPassword><apiURL>" + service.apiUrl().toUtf8() + "</apiURL>"
                  "<wUsername>demo@sonvira.local</wUsername><wPassword>38393133</wPassword></Settings>");
        {
            ClientRun first(sandbox);
            QTRY_VERIFY_WITH_TIMEOUT(logIns(service) == 1 && first.logged(kMoved), 30000);
            QCOMPARE(first.stop(), 0);
        }
        const QByteArray written = contentOf(sandbox.settingsFile());
        QVERIFY2(!written.contains("wPassword"), written.constData());
        QVERIFY(written.contains("<rememberPassword>true</rememberPassword>"));
        QVERIFY(written.contains("<wUsername>demo@sonvira.local</wUsername>"));
        QCOMPARE(keychainSecretOf("demo@sonvira.local"), QByteArray("demo"));

        ClientRun second(sandbox);
        QTRY_COMPARE_WITH_TIMEOUT(logIns(service), 2, 30000);
        QCOMPARE(second.stop(), 0);
        QVERIFY(!contentOf(sandbox.settingsFile()).contains("wPassword"));
    }

    void headlessTellsALockedKeyringFromAnEmptyOne()
    {
        if (!qEnvironmentVariableIsSet("SONVIRA_TEST_SECRET_SERVICE"))
            QSKIP("needs the private Secret Service of tests/support/with-secret-service.sh");
        Sandbox sandbox;
        // A remembered log-in whose password the keychain should hold.
        writeFile(sandbox.settingsFile(),
                  "<Settings><rememberPassword>true</rememberPassword><apiURL>http://127.0.0.1:9/api</apiURL>"
                  "<wUsername>nobody@sonvira.local</wUsername></Settings>");
        const auto exitCode = [&sandbox](const char* expectedText) -> int {
            ClientRun client(sandbox, QStringLiteral("sonvira-headless"));
            QTest::qWaitFor([&] { return !client.running(); }, 30000);
            if (client.log().contains(QString::fromLatin1(expectedText)))
                return client.exitCode();
            qWarning().noquote() << client.log();
            return -1;
        };
        QCOMPARE(exitCode("No stored log-in details"), 2);
        QProcess gdbus;
        gdbus.start(QStringLiteral("gdbus"),
                    {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                     QStringLiteral("org.freedesktop.secrets"), QStringLiteral("--object-path"),
                     QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("--method"),
                     QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                     QStringLiteral("['/org/freedesktop/secrets/collection/login']")});
        QVERIFY(gdbus.waitForFinished(20000) && gdbus.exitCode() == 0);
        QCOMPARE(exitCode("keyring that keeps the remembered password is locked"), 3);
    }
};

QTEST_GUILESS_MAIN(TestKeychainStart)
#include "test_keychainstart.moc"
