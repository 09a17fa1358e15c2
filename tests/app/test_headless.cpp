#include "clientprocess.h"

#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <functional>
#include <memory>

using clientprocess::ClientRun;
using clientprocess::Sandbox;
using clientprocess::contentOf;
using clientprocess::writeFile;

// The client without a window as a server runs it: no display, the
// sandbox's own configuration, against the real service. Its event lines
// on standard output are what the test follows.
class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void withoutStoredCredentialsItExitsWith2();
    void loginChecksAndStoresTheDetails();
    void watchedFileSurvivesSigtermWithOneUpload();
    void eachClientRefusesToRunBesideTheOther();

private:
    std::unique_ptr<ClientRun> startHeadless(const QStringList& arguments = {});
    bool waitFor(ClientRun& client, const std::function<bool()>& done, int ms, const char* what);
    QString in() const { return sandbox->path("work") + QStringLiteral("/in"); }
    QString out() const { return sandbox->path("work") + QStringLiteral("/out"); }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<ServiceProcess> service;
};

void TestHeadless::init()
{
    sandbox = std::make_unique<Sandbox>();
    // Each job held a few seconds at the service: time to stop the client while it is there.
    service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "1500"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
    QVERIFY(QDir().mkpath(in()));
    QVERIFY(QDir().mkpath(out()));
}

void TestHeadless::cleanup()
{
    service.reset();
    sandbox.reset();
}

std::unique_ptr<ClientRun> TestHeadless::startHeadless(const QStringList& arguments)
{
    auto run = std::make_unique<ClientRun>(*sandbox, QStringLiteral("sonvira-headless"), arguments);
    return run;
}

bool TestHeadless::waitFor(ClientRun& client, const std::function<bool()>& done, int ms, const char* what)
{
    return clientprocess::waitWhileRunning(client, done, ms, what, [this] {
        return QStringLiteral("The service's log:\n") + QString::fromUtf8(service->log());
    });
}

void TestHeadless::withoutStoredCredentialsItExitsWith2()
{
    QByteArray settings = clientprocess::watchedFolderSettings(service->apiUrl(), in(), out());
    settings.replace("<wPassword>38393133</wPassword>", "");
    writeFile(sandbox->settingsFile(), settings);
    auto client = startHeadless();
    QVERIFY(waitFor(*client, [&] { return !client->running(); }, 20000, "the end without credentials"));
    QCOMPARE(client->exitCode(), 2);
    QVERIFY2(client->log().contains(QStringLiteral("sonvira-headless --login EMAIL")), qPrintable(client->log()));
}

void TestHeadless::loginChecksAndStoresTheDetails()
{
    writeFile(sandbox->hostFile(), service->apiUrl().toUtf8() + '\n');
    const auto login = [&](const QByteArray& password) {
        auto client = startHeadless({QStringLiteral("--login"), ServiceProcess::demoEmail()});
        client->write(password + '\n');
        waitFor(*client, [&] { return !client->running(); }, 30000, "the end of --login");
        return client->exitCode();
    };
    QCOMPARE(login("wrong"), 1);
    QVERIFY(!contentOf(sandbox->settingsFile()).contains("<wPassword>"));
    QCOMPARE(login(ServiceProcess::demoPassword().toUtf8()), 0);
    const QByteArray settings = contentOf(sandbox->settingsFile());
    QVERIFY(settings.contains("<rememberPassword>true</rememberPassword>"));
    QVERIFY(settings.contains("<wUsername>demo@sonvira.local</wUsername>"));
    // Stored scrambled, as the desktop client's "Remember login details" does.
    QVERIFY(settings.contains("<wPassword>38393133</wPassword>"));

    // A termination signal at the prompt ends it as the signal would.
    auto waiting = startHeadless({QStringLiteral("--login"), ServiceProcess::demoEmail()});
    QVERIFY(waitFor(*waiting, [&] { return waiting->log().contains(QStringLiteral("Password for")); }, 30000,
                    "the prompt"));
    QCOMPARE(waiting->stop(), 143);
}

// A file dropped into a watched folder is uploaded; SIGTERM while its job is
// at the service ends the client with the queue saved; the next start polls
// that job instead of uploading again, and the result arrives.
void TestHeadless::watchedFileSurvivesSigtermWithOneUpload()
{
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
    auto first = startHeadless();
    QVERIFY(waitFor(*first, [&] { return first->output().contains(QStringLiteral("Started: 1 watched folders")); },
                    30000, "the start"));
    fixtures::Signal signal;
    const QString source = in() + QStringLiteral("/take.wav");
    QVERIFY(fixtures::writeSine(source, 2.0, 440.0, 0.3, signal));
    QVERIFY(waitFor(*first, [&] { return first->output().contains(QStringLiteral("Uploaded: ") + QDir::toNativeSeparators(source)); },
                    30000, "the upload"));
    QCOMPARE(first->stop(), 0);
    QVERIFY(first->output().contains(QStringLiteral("Stopped: queue and settings saved")));
    QVERIFY(contentOf(sandbox->configFolder() + QStringLiteral("/queue.xml")).contains("take.wav"));
    QVERIFY(!first->output().contains(QStringLiteral("demo\n")));

    auto second = startHeadless();
    const QString result = out() + QStringLiteral("/take-done -20 dbrms.wav");
    QVERIFY(waitFor(*second, [&] { return second->output().contains(QStringLiteral("Done: ")); }, 60000, "Done"));
    QVERIFY(QFileInfo::exists(result));
    QCOMPARE(second->stop(), 0);
    QCOMPARE(service->uploadSizes().size(), 1);
}

// The two clients share one single-instance guard: whichever starts second
// says why and ends with exit code 1, and the first runs on undisturbed.
void TestHeadless::eachClientRefusesToRunBesideTheOther()
{
    const QString refused = QStringLiteral("Another instance of the Sonvira client is already running.");
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
    {
        ClientRun desktop(*sandbox);
        QVERIFY(waitFor(desktop, [&] { return desktop.log().contains(QStringLiteral("Main window ready")); }, 30000,
                        "the desktop client's window"));
        auto headless = startHeadless();
        QVERIFY(waitFor(*headless, [&] { return !headless->running(); }, 20000, "the refusal"));
        QCOMPARE(headless->exitCode(), 1);
        QVERIFY(headless->log().contains(refused));
        QCOMPARE(desktop.stop(), 0);
    }

    auto headless = startHeadless();
    QVERIFY(waitFor(*headless, [&] { return headless->output().contains(QStringLiteral("Started: 1 watched folders")); },
                    30000, "the start"));
    {
        // The desktop client shows its box and waits; a termination signal
        // dismisses the box like its OK button.
        ClientRun desktop(*sandbox);
        QVERIFY(waitFor(desktop, [&] { return desktop.log().contains(refused); }, 30000, "the desktop client's refusal"));
        QCOMPARE(desktop.stop(), 1);
        QVERIFY(!desktop.log().contains(QStringLiteral("Main window ready")));
    }
    QVERIFY(headless->running());
    QCOMPARE(headless->stop(), 0);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
