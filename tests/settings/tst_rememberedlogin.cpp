#include "settings/rememberedlogin.h"
#include "settings/settings.h"

#include "secrettool.h"

#include <QTemporaryDir>
#include <QtTest>

// The remembered password against a real Secret Service (a private
// gnome-keyring, see tests/support/with-secret-service.sh) and in a session
// without one. Entries are checked with secret-tool, not with our own code.
namespace {

const QByteArray kAccount = "listener@example.com";
// "s3cret", each byte XORed with 0x5c, as hexadecimal (worked out by hand).
const QByteArray kScrambled = "2f6f3f2e3928";

bool inPrivateSecretService()
{
    return qEnvironmentVariableIsSet("SONVIRA_TEST_SECRET_SERVICE");
}

int keychainWarnings = 0;
QtMessageHandler previousHandler = nullptr;

void countKeychainWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.startsWith(QLatin1String("System keychain not available")))
        ++keychainWarnings;
    previousHandler(type, context, text);
}

// Settings as the client reads them at start from a settings.xml text.
void loadFrom(Settings& settings, const QByteArray& xml)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.xml"));
    QVERIFY(Settings::writeFile(path, xml));
    QVERIFY(settings.load(path));
}

QByteArray rememberedXml(const QByteArray& passwordElement)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><rememberPassword>true</rememberPassword>"
           "<wUsername>" + kAccount + "</wUsername>" + passwordElement + "</Settings>\n";
}

struct StartRead {
    bool answered = false;
    bool found = false;
    bool reading = false;
};

// restore() as at a start of the client; waits for the keychain's answer.
void restoreAndWait(RememberedLogin& login, StartRead& read)
{
    read.reading = login.restore([&read](bool found) {
        read.answered = true;
        read.found = found;
    });
    QTRY_COMPARE_WITH_TIMEOUT(login.pending(), 0, 20000);
}

// A start with the described file's scrambled "s3cret": nothing to read.
void startWithFilePassword(Settings& settings, RememberedLogin& login)
{
    loadFrom(settings, rememberedXml("<wPassword>" + kScrambled + "</wPassword>"));
    StartRead read;
    restoreAndWait(login, read);
    QVERIFY(!read.reading);
}

} // namespace

class TestRememberedLogin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void filePasswordMovesToKeychainAndLogOutRemovesIt();
    void newPasswordGoesOnlyToKeychain();
    void withoutServiceFileKeepsPassword();
};

// After the test library's own handler, which it installs when it starts.
void TestRememberedLogin::initTestCase()
{
    previousHandler = qInstallMessageHandler(countKeychainWarnings);
}

void TestRememberedLogin::init()
{
    keychainWarnings = 0;
}

void TestRememberedLogin::filePasswordMovesToKeychainAndLogOutRemovesIt()
{
    if (!inPrivateSecretService())
        QSKIP("needs the private Secret Service of tests/support/with-secret-service.sh");

    // First start: the described file's password goes into the keychain and
    // leaves the file; the account and the choice to remember stay.
    Settings first;
    {
        RememberedLogin login(first);
        startWithFilePassword(first, login);
        QCOMPARE(keychainSecretOf(kAccount), QByteArray("s3cret"));
        QVERIFY(login.unavailableReason().isEmpty());
    }
    const QByteArray written = first.toXml();
    QVERIFY(!written.contains("wPassword"));
    QVERIFY(written.contains("<rememberPassword>true</rememberPassword>"));
    QVERIFY(written.contains("<wUsername>" + kAccount + "</wUsername>"));

    // Next start: the password comes from the keychain.
    Settings second;
    loadFrom(second, written);
    RememberedLogin login(second);
    StartRead read;
    restoreAndWait(login, read);
    QVERIFY(read.reading);
    QVERIFY(read.answered);
    QVERIFY(read.found);
    QCOMPARE(second.wPassword, QByteArray("s3cret"));

    // Log out: the entry goes; a start after it finds no password.
    second.wPassword.clear();
    second.loginChanged();
    QTRY_COMPARE_WITH_TIMEOUT(login.pending(), 0, 20000);
    QCOMPARE(keychainSecretOf(kAccount), QByteArray());
    QVERIFY(!second.toXml().contains("wPassword"));

    Settings third;
    loadFrom(third, second.toXml());
    RememberedLogin again(third);
    StartRead none;
    restoreAndWait(again, none);
    QVERIFY(none.reading);
    QVERIFY(none.answered);
    QVERIFY(!none.found);
    QVERIFY(third.wPassword.isEmpty());
    QCOMPARE(keychainWarnings, 0);
}

void TestRememberedLogin::newPasswordGoesOnlyToKeychain()
{
    if (!inPrivateSecretService())
        QSKIP("needs the private Secret Service of tests/support/with-secret-service.sh");

    Settings settings;
    RememberedLogin login(settings);
    // A log-in with "Remember login details" ticked: the file never holds
    // the password, not even while the keychain is being asked.
    settings.wUsername = "first@example.com";
    settings.wPassword = "p\xc3\xa4ss word";
    settings.rememberPassword = true;
    settings.loginChanged();
    QVERIFY(!settings.toXml().contains("wPassword"));
    QTRY_COMPARE_WITH_TIMEOUT(login.pending(), 0, 20000);
    QCOMPARE(keychainSecretOf("first@example.com"), QByteArray("p\xc3\xa4ss word"));

    // Another account entered in the setup window: the old entry goes.
    settings.wUsername = "second@example.com";
    settings.wPassword = "other";
    settings.loginChanged();
    QTRY_COMPARE_WITH_TIMEOUT(login.pending(), 0, 20000);
    QCOMPARE(keychainSecretOf("first@example.com"), QByteArray());
    QCOMPARE(keychainSecretOf("second@example.com"), QByteArray("other"));
    QVERIFY(!settings.toXml().contains("wPassword"));
}

void TestRememberedLogin::withoutServiceFileKeepsPassword()
{
    if (inPrivateSecretService())
        QSKIP("needs a session without a Secret Service");

    Settings settings;
    RememberedLogin login(settings);
    startWithFilePassword(settings, login);
    QVERIFY(!login.unavailableReason().isEmpty());
    QCOMPARE(settings.wPassword, QByteArray("s3cret"));
    QVERIFY(settings.toXml().contains("<wPassword>" + kScrambled + "</wPassword>"));

    // A new remembered password is written as described ("new" scrambled).
    settings.wPassword = "new";
    settings.loginChanged();
    QTRY_COMPARE_WITH_TIMEOUT(login.pending(), 0, 20000);
    QVERIFY(settings.toXml().contains("<wPassword>32392b</wPassword>"));

    // A remembered login without a password in the file: the user is asked.
    Settings withoutPassword;
    loadFrom(withoutPassword, rememberedXml(QByteArray()));
    RememberedLogin other(withoutPassword);
    StartRead none;
    restoreAndWait(other, none);
    QVERIFY(none.reading);
    QVERIFY(none.answered);
    QVERIFY(!none.found);
    // Each keychain says why it is not used, once.
    QCOMPARE(keychainWarnings, 2);
}

int main(int argc, char* argv[])
{
    // Outside the private session no keychain is reachable, so the user's
    // own is never touched: no session bus, no display to start one from.
    if (!inPrivateSecretService()) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sonvira-test-bus");
        qunsetenv("DISPLAY");
    }
    QCoreApplication app(argc, argv);
    TestRememberedLogin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rememberedlogin.moc"
