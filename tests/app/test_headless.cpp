#include "clientprocess.h"

#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
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
    void eventLinesTellRetriesAndMp3s();
    void errorsAreTriedAgainWithoutAWindow();
    void aRecordingIsQueuedOnceItHoldsAudio();
    void startUpEdgesAreToldOnce();
    void aPauseOfTheLogInsIsTold();

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
    // What the first run told is not told again.
    QVERIFY2(!second->output().contains(QStringLiteral("Uploaded: ")) && !second->output().contains(QStringLiteral("Queued: ")),
             qPrintable(second->output()));
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

// The event lines as a script reads them: status requests the service
// cannot answer for a while are retried, each wait told with its reason; the
// Done line names the MP3 that replaces the WAV, which has its own line; a
// control character of a name is escaped; and nothing but event lines goes
// to standard output.
void TestHeadless::eventLinesTellRetriesAndMp3s()
{
    service = std::make_unique<ServiceProcess>(QStringList{"--unavailable", "/Jobs/1:2:1"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
    QByteArray settings = clientprocess::watchedFolderSettings(service->apiUrl(), in(), out());
    settings.replace("<encodeToMP3>false</encodeToMP3>", "<encodeToMP3>true</encodeToMP3>");
    settings.replace("<deleteWAVafterMP3Encoding>false</deleteWAVafterMP3Encoding>",
                     "<deleteWAVafterMP3Encoding>true</deleteWAVafterMP3Encoding>");
    writeFile(sandbox->settingsFile(), settings);
    auto client = startHeadless();
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Started: ")); }, 30000, "the start"));
    fixtures::Signal signal;
    QVERIFY(fixtures::writeSine(in() + QStringLiteral("/ta\tke\x7f.wav"), 2.0, 440.0, 0.3, signal));
    const QString shown = QDir::toNativeSeparators(in()) + QStringLiteral("/ta\\tke\\x7f.wav");
    const QString mp3 = QDir::toNativeSeparators(out()) + QStringLiteral("/ta\\tke\\x7f-done -20 dbrms.mp3");
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("MP3 done: ") + mp3); }, 60000,
                    "the MP3"));
    QCOMPARE(client->stop(), 0);

    const QStringList lines = client->output().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^Retrying: ") + QRegularExpression::escape(shown)
                                             + QStringLiteral(": Service unreachable .*503.* \\(in \\d+ s\\)$"))).size(),
             2);
    QVERIFY(lines.contains(QStringLiteral("Done: ") + shown + QStringLiteral(" -> ") + mp3));
    const QRegularExpression eventLine(QStringLiteral(
        "^(Started|Service|Queued|Uploaded|Retrying|Done|MP3 started|MP3 done|Audio files ready): |^Stopp"));
    for (const QString& line : lines)
        QVERIFY2(eventLine.match(line).hasMatch(), qPrintable(line));
}

// Errors without a window: a file refused for want of credit is tried
// again at the next start (the account has credit again), --list prints the
// kept queue, and a failed job, which stays in Error, is submitted again by
// --retry-errors.
void TestHeadless::errorsAreTriedAgainWithoutAWindow()
{
    const QString source = in() + QStringLiteral("/take.wav");
    const auto runWith = [&](const QStringList& serviceArguments, const QStringList& arguments, const QString& until) {
        const QByteArray before = service ? service->apiUrl().toUtf8() : QByteArray();
        service = std::make_unique<ServiceProcess>(serviceArguments);
        if (!service->start())
            return QStringLiteral("the service did not start");
        writeFile(sandbox->settingsFile(), contentOf(sandbox->settingsFile()).replace(before, service->apiUrl().toUtf8()));
        auto client = startHeadless(arguments);
        if (!waitFor(*client, [&] { return client->output().contains(until); }, 60000, qPrintable(until)))
            return QString();
        return client->stop() == 0 ? client->output() : QStringLiteral("no clean end");
    };
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
    fixtures::Signal signal;
    QVERIFY(fixtures::writeSine(source, 2.0, 440.0, 0.3, signal));
    const QString creditError = QStringLiteral("Error: ") + source + QStringLiteral(": Error: Insufficient credit to proceed");
    QVERIFY(runWith({"--credit", "0"}, {}, creditError).contains(creditError));

    auto list = startHeadless({QStringLiteral("--list")});
    QVERIFY(waitFor(*list, [&] { return !list->running(); }, 20000, "the end of --list"));
    QCOMPARE(list->exitCode(), 0);
    QCOMPARE(list->output(), creditError + QLatin1Char('\n'));

    const QString failed = QStringLiteral("Error: ") + source + QStringLiteral(": Error processing file (err 11)");
    const QString second = runWith({"--fail-jobs"}, {}, failed);
    QVERIFY2(second.contains(QStringLiteral("Uploaded: ") + source), qPrintable(second));
    const QString third = runWith({}, {QStringLiteral("--retry-errors")}, QStringLiteral("Done: ") + source);
    QVERIFY2(third.contains(QStringLiteral("Done: ") + source), qPrintable(third));
}

// A recorder that writes the header first and the recording later: the
// header alone is never queued (a file written after it is), the recording
// is, once it is there, and the service sees only that upload.
void TestHeadless::aRecordingIsQueuedOnceItHoldsAudio()
{
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
    auto client = startHeadless();
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Started: ")); }, 30000, "the start"));
    fixtures::Signal signal;
    const QString recording = in() + QStringLiteral("/recording.wav");
    QVERIFY(fixtures::writeWav(recording, {}, signal));
    const QString later = in() + QStringLiteral("/later.wav");
    QVERIFY(fixtures::writeSine(later, 1.0, 440.0, 0.3, signal));
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Queued: ") + later); }, 30000,
                    "the file written after the header"));
    QVERIFY(!client->output().contains(QStringLiteral("Queued: ") + recording));

    QVERIFY(fixtures::writeSine(recording, 3.0, 440.0, 0.3, signal));
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Done: ") + recording); }, 60000,
                    "the recording"));
    QCOMPARE(client->stop(), 0);
    QCOMPARE(client->output().count(QStringLiteral("Queued: ") + recording), 1);
    // Two uploads, each with at least a second of audio: never the header alone.
    const QList<qint64> uploads = service->uploadSizes();
    QCOMPARE(uploads.size(), 2);
    QVERIFY(*std::min_element(uploads.cbegin(), uploads.cend()) > QFileInfo(later).size());
}

// Start-up edges an administrator meets: an unreadable settings.xml ends the
// client with exit code 4 and the file as it was; a missing watched folder,
// a missing ffmpeg and refused stored log-in details each give one warning.
void TestHeadless::startUpEdgesAreToldOnce()
{
    const QByteArray broken = clientprocess::watchedFolderSettings(service->apiUrl(), in(), out())
                                  .replace("</outputPath>", " & more</outputPath>");
    writeFile(sandbox->settingsFile(), broken);
    auto unreadable = startHeadless();
    QVERIFY(waitFor(*unreadable, [&] { return !unreadable->running(); }, 20000, "the refusal to run"));
    QCOMPARE(unreadable->exitCode(), 4);
    QCOMPARE(contentOf(sandbox->settingsFile()), broken);
    // One that cannot even be opened (here a folder in its place) likewise.
    QVERIFY(QFile::remove(sandbox->settingsFile()) && QDir().mkpath(sandbox->settingsFile()));
    auto unopened = startHeadless();
    QVERIFY(waitFor(*unopened, [&] { return !unopened->running(); }, 20000, "the refusal to run"));
    QCOMPARE(unopened->exitCode(), 4);
    QVERIFY(QDir().rmdir(sandbox->settingsFile()));

    const QString missing = in() + QStringLiteral("/missing");
    QByteArray settings = clientprocess::watchedFolderSettings(service->apiUrl(), missing, out());
    // "de" instead of "demo", scrambled as the file keeps it.
    settings.replace("<wPassword>38393133</wPassword>", "<wPassword>3839</wPassword>");
    settings.replace("<FFMPEGPath></FFMPEGPath>", "<FFMPEGPath>/nonexistent</FFMPEGPath>");
    writeFile(sandbox->settingsFile(), settings);
    auto client = startHeadless();
    const QString refused = QStringLiteral("Service: Can't log in: Invalid username/password (401)");
    QVERIFY(waitFor(*client, [&] { return client->output().contains(refused); }, 30000, "the refused log-in"));
    QCOMPARE(client->stop(), 0);
    const QString log = client->log();
    QCOMPARE(log.count(QStringLiteral("Watched folder ") + missing + QStringLiteral(" does not exist")), 1);
    QCOMPARE(log.count(QStringLiteral("No ffmpeg in /nonexistent answers")), 1);
    QCOMPARE(log.count(QStringLiteral("The service refuses the stored log-in details")), 1);
}

// A service that takes log-ins but refuses their tokens at once: the log-ins
// are held back, and an event line says so while the status line does.
void TestHeadless::aPauseOfTheLogInsIsTold()
{
    service = std::make_unique<ServiceProcess>(QStringList{"--refuse-polls"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
    writeFile(sandbox->settingsFile(), clientprocess::watchedFolderSettings(service->apiUrl(), in(), out()));
    auto client = startHeadless();
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Started: ")); }, 30000, "the start"));
    fixtures::Signal signal;
    QVERIFY(fixtures::writeSine(in() + QStringLiteral("/take.wav"), 1.0, 440.0, 0.3, signal));
    QVERIFY(waitFor(*client, [&] { return client->output().contains(QStringLiteral("Log-ins paused: ")); }, 60000,
                    "the pause of the log-ins"));
    QCOMPARE(client->stop(), 0);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
