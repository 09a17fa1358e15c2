#include "audiofixtures.h"
#include "pipelinefixture.h"
#include "serviceprocess.h"

#include "pipeline/jobinfo.h"
#include "pipeline/tokenmanager.h"
#include "pipeline/webapi.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

using namespace pipelinefixture;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Polls the job until it leaves the running codes 3..7; returns its last status.
// A job still running after 20 s fails the current test.
JobInfo waitForJobEnd(WebAPI& api, int jobId)
{
    QDeadlineTimer deadline(20000);
    JobInfo job;
    while (!deadline.hasExpired()) {
        job = JobInfo::fromJson(api.getJob(jobId));
        if (job.status < 3 || job.status > 7)
            return job;
        QTest::qWait(20);
    }
    QTest::qFail(qPrintable(QStringLiteral("job %1 still running after 20 s (status %2)").arg(jobId).arg(job.status)),
                 __FILE__, __LINE__);
    return job;
}

bool runOpenssl(const QString& folder, const QStringList& arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

} // namespace

class TestWebApiService : public QObject {
    Q_OBJECT

private slots:
    void init();
    void logInAndItsTwoRefusals();
    void presetsOfTheService();
    void presetFaults();
    void wholeJobThroughTheClient();
    void refusedUploads();
    void tokenIsRefusedOnceExpired();
    void answersWithoutEndAreCut_data();
    void answersWithoutEndAreCut();
    void dripFedAnswerMeetsItsDeadline();
    void plainHttpGoesThroughTheProxy();
    void certificateIsVerified();

private:
    QTemporaryDir m_dir;
};

void TestWebApiService::init()
{
    WebAPI::invalidateToken(QString(), true);
    WebAPI::setDeadlines(WebAPI::kLoginDeadlineMs, WebAPI::kRequestDeadlineMs);
}

void TestWebApiService::logInAndItsTwoRefusals()
{
    ServiceProcess service({"--user", "ann@example.com:pässword"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    tokenManager tokens;
    tokens.setHost(service.apiUrl().toUtf8());
    QByteArray error;

    QVERIFY(!tokens.login("ann@example.com", "wrong", error));
    QCOMPARE(error, QByteArray("Can't log in: Invalid username/password (401)"));
    QVERIFY(!tokens.login("ann@example.com", "", error));
    QCOMPARE(error, QByteArray("Can't log in: No username/password (400)"));
    QVERIFY(!tokens.hasToken());
    QCOMPARE(countLogLines(service.log(), "/api/Login"), 1);

    QVERIFY2(tokens.login("ann@example.com", "pässword", error), error.constData());
    QVERIFY(tokens.currentToken().size() >= 4);
    QVERIFY2(tokens.login("demo@sonvira.local", "demo", error), error.constData());
    tokens.logout();
    QVERIFY(!tokens.hasToken());
}

void TestWebApiService::presetsOfTheService()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(logInDemo(service.apiUrl().toUtf8()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    QVERIFY2(api.getPresets(), qPrintable(api.lastError()));
    QCOMPARE(api.presets(), (QList<QByteArray>{"1: Speech -16 LUFS", "2: Music -14 LUFS", "3: Broadcast -23 LUFS",
                                               "4: Passthrough"}));

    WebAPI::invalidateToken(QString(), true);
    QVERIFY(!api.getPresets());
    QVERIFY2(api.lastError().startsWith("401"), qPrintable(api.lastError()));
}

void TestWebApiService::presetFaults()
{
    ServiceProcess empty({"--empty-presets"});
    QVERIFY2(empty.start(), qPrintable(empty.errorString()));
    QVERIFY(logInDemo(empty.apiUrl().toUtf8()));
    WebAPI api;
    api.setBaseUrl(empty.apiUrl().toUtf8());
    QVERIFY(api.getPresets());
    QVERIFY(api.presets().isEmpty());

    ServiceProcess mixed({"--mixed-presets"});
    QVERIFY2(mixed.start(), qPrintable(mixed.errorString()));
    QVERIFY(logInDemo(mixed.apiUrl().toUtf8()));
    api.setBaseUrl(mixed.apiUrl().toUtf8());
    QVERIFY2(api.getPresets(), qPrintable(api.lastError()));
    QCOMPARE(api.presets(), (QList<QByteArray>{"1: Speech -16 LUFS", "2: Music -14 LUFS", "3: Broadcast -23 LUFS",
                                               "4: Passthrough"}));

    ServiceProcess malformed({"--malformed-json", "/AudioPresets"});
    QVERIFY2(malformed.start(), qPrintable(malformed.errorString()));
    QVERIFY(logInDemo(malformed.apiUrl().toUtf8()));
    api.setBaseUrl(malformed.apiUrl().toUtf8());
    QVERIFY(!api.getPresets());
    QCOMPARE(api.lastError(), QStringLiteral("Error parsing response"));
}

void TestWebApiService::wholeJobThroughTheClient()
{
    QTemporaryDir data;
    ServiceProcess service({"--step-ms", "10", "--data-dir", data.path()});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(logInDemo(service.apiUrl().toUtf8()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    const QString source = writeWav(m_dir.path(), "Whole Job.WAV", 2.0);

    const int jobId = api.submitJob(source, 2, true);
    QVERIFY2(jobId > 0, qPrintable(api.lastError()));
    const JobInfo job = waitForJobEnd(api, jobId);
    QCOMPARE(job.status, 8);
    QCOMPARE(job.id, jobId);
    QCOMPARE(job.audioPresetName, QByteArray("Music -14 LUFS"));
    QCOMPARE(job.ownerEmail, QByteArray("demo@sonvira.local"));
    QVERIFY(job.ownerCredit < 100);

    const QString target = m_dir.filePath("whole-result.wav");
    const QString written = api.downloadResult(jobId, target);
    QCOMPARE(written, QDir::toNativeSeparators(target));
    const QByteArray result = readAll(target);
    QVERIFY(!result.isEmpty());
    QCOMPARE(result, readAll(QDir(data.path()).filePath(QStringLiteral("results/%1.wav").arg(jobId))));
    QVERIFY(result != readAll(source));
    QCOMPARE(api.downloadedBytes(), qint64(result.size()));

    // The first result name is taken now: the second download picks a free one.
    QCOMPARE(api.downloadResult(jobId, target), QDir::toNativeSeparators(m_dir.filePath("whole-result (1).wav")));
    QVERIFY(partialFiles(m_dir.path()).isEmpty());
}

void TestWebApiService::refusedUploads()
{
    ServiceProcess service({"--max-body", "100000"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(logInDemo(service.apiUrl().toUtf8()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());

    const QString corrupt = m_dir.filePath("corrupt.wav");
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    QCOMPARE(api.submitJob(corrupt, 1, true), -1);
    QVERIFY2(api.lastError().startsWith("415"), qPrintable(api.lastError()));

    const QString big = writeWav(m_dir.path(), "big.wav", 3.0);
    QCOMPARE(api.submitJob(big, 1, true), -1);
    QVERIFY2(api.lastError().startsWith("413"), qPrintable(api.lastError()));
}

void TestWebApiService::tokenIsRefusedOnceExpired()
{
    ServiceProcess service({"--expire-token-after", "2"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(logInDemo(service.apiUrl().toUtf8()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    QVERIFY(api.getPresets());
    QVERIFY(api.getPresets());
    QVERIFY(!api.getPresets());
    QVERIFY(api.lastError().startsWith("401"));
    QCOMPARE(api.lastRequestToken(), WebAPI::token());
    // Of two threads failing with the same token only the first clears it.
    QVERIFY(WebAPI::invalidateToken(api.lastRequestToken(), false));
    QVERIFY(!WebAPI::invalidateToken(api.lastRequestToken(), false));
}

void TestWebApiService::answersWithoutEndAreCut_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("status") << "--endless" << "/Jobs/1" << "200 - Answer too large (more than 1 MiB)";
    QTest::newRow("log-in") << "--endless" << "/Login" << "200 - Answer too large (more than 1 MiB)";
    QTest::newRow("presets") << "--endless" << "/AudioPresets" << "200 - Answer too large (more than 16 MiB)";
    QTest::newRow("header lines") << "--endless-headers" << "/Jobs/1"
                                  << "200 - Answer headers too large (more than 64 KiB)";
    QTest::newRow("result") << "--endless" << "/Jobs/1/Result" << "200 - Result too large (more than ";
}

// A log-in, preset list, status or result sent as chunks without end, or
// header lines without end: each request is cut at its bound as the bytes
// arrive and fails with a clear text (tried again later); nothing of a
// result is left on disk.
void TestWebApiService::answersWithoutEndAreCut()
{
    QFETCH(QString, fault);
    QFETCH(QString, path);
    QFETCH(QString, error);
    ServiceProcess service({fault, path});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    const bool loginFaulted = path == QLatin1String("/Login");
    QCOMPARE(api.login("demo@sonvira.local", "demo"), !loginFaulted);
    QTemporaryDir dir;
    if (path == QLatin1String("/AudioPresets"))
        QVERIFY(!api.getPresets());
    else if (path.endsWith(QLatin1String("/Result")))
        QCOMPARE(api.downloadResult(1, dir.filePath("r.wav"), WebAPI::maxResultBytes(1.0)), QString());
    else if (!loginFaulted)
        QVERIFY(api.getJob(1).isEmpty());
    QVERIFY2(api.lastError().startsWith(error), qPrintable(api.lastError()));
    QVERIFY(api.lastFailureMayPass());
    QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// A status answer that trickles in a byte at a time never resets a total
// deadline, only the no-data time-out.
void TestWebApiService::dripFedAnswerMeetsItsDeadline()
{
    ServiceProcess service({"--drip", "/Jobs/*:100"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    QVERIFY(api.login("demo@sonvira.local", "demo"));
    WebAPI::setDeadlines(WebAPI::kLoginDeadlineMs, 2000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(api.getJob(1).isEmpty());
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY2(api.lastError().contains("Request timed out (no answer within 2 s)"), qPrintable(api.lastError()));
    QVERIFY(api.lastFailureMayPass());
}

// Behind a forward proxy (http_proxy) every request of a job, the upload
// and the download included, goes out as an ordinary proxied request. The
// service answers such requests (absolute URLs) as its own and refuses
// CONNECT, as standard proxies do for ports other than 443; the service's
// host name is one only the proxy could reach.
void TestWebApiService::plainHttpGoesThroughTheProxy()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(service.port()));
    qunsetenv("no_proxy");
    WebAPI api;
    api.setBaseUrl("http://sonvira.invalid/api");
    const QString source = writeWav(m_dir.path(), "proxied.wav", 1.0);
    const bool loggedIn = api.login("demo@sonvira.local", "demo");
    const int jobId = loggedIn ? api.submitJob(source, 4, true) : -1;
    const bool ready = jobId > 0 && waitForJobEnd(api, jobId).status == 8;
    const QString result = ready ? api.downloadResult(jobId, m_dir.filePath("proxied-out.wav")) : QString();
    qunsetenv("http_proxy");
    QVERIFY2(!result.isEmpty(), qPrintable(api.lastError()));
    QCOMPARE(countLogLines(service.log(), "CONNECT"), 0);
    QCOMPARE(countLogLines(service.log(), "POST /api/Jobs -> 200"), 1);
}

// Runs last: the test CA, once added, stays trusted for the whole process.
void TestWebApiService::certificateIsVerified()
{
    QTemporaryDir pki;
    QFile extensions(pki.filePath("server.ext"));
    QVERIFY(extensions.open(QIODevice::WriteOnly));
    extensions.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    extensions.close();
    QVERIFY(runOpenssl(pki.path(), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                                    "ca.pem", "-days", "2", "-subj", "/CN=Sonvira Test CA"}));
    QVERIFY(runOpenssl(pki.path(), {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                                    "server.csr", "-subj", "/CN=127.0.0.1"}));
    QVERIFY(runOpenssl(pki.path(), {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                                    "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile",
                                    "server.ext"}));

    ServiceProcess service({"--tls-cert", pki.filePath("server.pem"), "--tls-key", pki.filePath("server.key")});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(service.apiUrl().startsWith("https://"));
    WebAPI api;
    api.setBaseUrl(service.apiUrl().toUtf8());
    QVERIFY(!api.login("demo@sonvira.local", "demo"));
    QVERIFY2(api.lastError().startsWith(" - "), qPrintable(api.lastError()));
    QCOMPARE(countLogLines(service.log(), "/api/Login"), 0);

    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(pki.filePath("ca.pem"));
    QCOMPARE(authorities.size(), 1);
    WebAPI::addCaCertificates(authorities);
    WebAPI fresh;
    fresh.setBaseUrl(service.apiUrl().toUtf8());
    QVERIFY2(fresh.login("demo@sonvira.local", "demo"), qPrintable(fresh.lastError()));
    QVERIFY(fresh.getPresets());
    // The upload, too, trusts the added authority.
    const QString source = writeWav(m_dir.path(), "over tls.wav", 1.0);
    QVERIFY2(fresh.submitJob(source, 1, true) > 0, qPrintable(fresh.lastError()));
    QVERIFY(fresh.uploadedBytes() > QFileInfo(source).size());
}

QTEST_GUILESS_MAIN(TestWebApiService)
#include "tst_webapiservice.moc"
