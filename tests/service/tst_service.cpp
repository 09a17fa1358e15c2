#include "apiclient.h"
#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The service's REST interface in normal operation: log-in, tokens, presets,
// a job from upload to result, credit, and refused uploads.
class TestService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void logInChecksCredentials();
    void everyEndpointButLogInNeedsAToken();
    void presetsListIdsAndNames();
    void jobWalksItsStatusesToAResult();
    void resultIsRefusedUntilReady();
    void jobsBelongToTheirOwner();
    void uploadsMissingPartsAreRefused();
    void undecodableUploadIsRefused();
    void requestsOutOfTheirFormAreRefused();
    void creditPaysPerStartedMinute();
    void jobBeyondTheCreditEndsInsufficient();
    void fileNamesAreReadWithEscapesAndExtendedForm();
    void servesHttpsWithAGivenCertificate();
    void helpDocumentsEveryOption();
    void stopsCleanlyAndLogsEachRequest();

private:
    QString writeSine(const QString& name, double seconds);

    QTemporaryDir dir_;
};

void TestService::initTestCase()
{
    QVERIFY(dir_.isValid());
}

QString TestService::writeSine(const QString& name, double seconds)
{
    const QString path = dir_.filePath(name);
    if (!fixtures::writeSine(path, seconds, 440, 0.5, fixtures::Signal{}))
        return {};
    return path;
}

void TestService::logInChecksCredentials()
{
    ServiceProcess service({"--user", "ann@example.org:s3cret:with:colons"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());

    const ApiClient::Reply demo =
        api.postJson("/Login", {{"email", ServiceProcess::demoEmail()}, {"password", ServiceProcess::demoPassword()}});
    QCOMPARE(demo.status, 200);
    QVERIFY(demo.json().value("token").toString().size() >= 16);
    QVERIFY(!api.logIn("ann@example.org", "s3cret:with:colons").isEmpty());
    QVERIFY(api.logIn("demo@sonvira.local", "demo") != api.logIn("demo@sonvira.local", "demo"));

    QCOMPARE(api.postJson("/Login", {{"email", "demo@sonvira.local"}, {"password", "wrong"}}).status, 401);
    QCOMPARE(api.postJson("/Login", {{"email", "nobody@example.org"}, {"password", "demo"}}).status, 401);
    QCOMPARE(api.postJson("/Login", {{"email", "demo@sonvira.local"}}).status, 400);
    QCOMPARE(api.postRaw("/Login", "application/json", "{not json").status, 400);
    QCOMPARE(api.get("/Login").status, 405);
}

void TestService::everyEndpointButLogInNeedsAToken()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn(ServiceProcess::demoEmail(), ServiceProcess::demoPassword());
    const QString path = writeSine("auth.wav", 1);
    QCOMPARE(api.submitFile(token, path, 4).status, 200);

    for (const QString& wrong : {QString(), QString(""), QString("not-a-token")}) {
        QCOMPARE(api.get("/AudioPresets", wrong).status, 401);
        QCOMPARE(api.get("/Jobs/1", wrong).status, 401);
        QCOMPARE(api.get("/Jobs/1/Result", wrong).status, 401);
        QCOMPARE(api.submitFile(wrong, path, 4).status, 401);
    }
    QCOMPARE(api.get("/AudioPresets", token).status, 200);
    QCOMPARE(api.get("/NoSuchThing", token).status, 404);
    QCOMPARE(api.get("/Jobs/abc", token).status, 404);
}

void TestService::presetsListIdsAndNames()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const ApiClient::Reply reply = api.get("/AudioPresets", api.logIn("demo@sonvira.local", "demo"));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.contentType.startsWith("application/json"));
    const QJsonArray presets = reply.json().value("presets").toArray();
    QStringList names;
    for (const QJsonValue& value : presets) {
        QVERIFY(value.toObject().value("id").isDouble());
        names << QString::number(value.toObject().value("id").toInt()) + ": " + value.toObject().value("name").toString();
    }
    QCOMPARE(names, QStringList({"1: Speech -16 LUFS", "2: Music -14 LUFS", "3: Broadcast -23 LUFS", "4: Passthrough"}));
}

void TestService::jobWalksItsStatusesToAResult()
{
    ServiceProcess service({"--step-ms", "150", "--progress-points", "40.4,99.6"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const QString path = writeSine("walk.wav", 2);
    const ApiClient::Reply submitted = api.submitFile(token, path, 4);
    QCOMPARE(submitted.status, 200);
    const int id = submitted.json().value("id").toInt();
    QVERIFY(id > 0);

    QList<QPair<int, double>> seen;
    QJsonObject job;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && job.value("status").toInt() < 8) {
        job = api.get("/Jobs/" + QString::number(id), token).json();
        const QPair<int, double> step{job.value("status").toInt(), job.value("percentComplete").toDouble()};
        if (seen.isEmpty() || seen.last() != step)
            seen.append(step);
        QTest::qWait(20);
    }
    const QList<QPair<int, double>> expected{{3, 0}, {4, 0}, {5, 0}, {6, 0}, {6, 40.4}, {6, 99.6}, {8, 100}};
    QCOMPARE(seen, expected);

    QCOMPARE(job.value("id").toInt(), id);
    QCOMPARE(job.value("name").toString(), QString("walk.wav"));
    QCOMPARE(job.value("audioPresetName").toString(), QString("Passthrough"));
    QCOMPARE(job.value("duration").toDouble(), 2.0);
    QCOMPARE(job.value("cost").toInt(), 1);
    QVERIFY(QDateTime::fromString(job.value("created").toString(), Qt::ISODateWithMs).isValid());
    QVERIFY(job.value("modified").toString() >= job.value("created").toString());
    const QJsonObject owner = job.value("owner").toObject();
    QCOMPARE(owner.value("id").toInt(), 1);
    QCOMPARE(owner.value("email").toString(), QString("demo@sonvira.local"));
    QVERIFY(!owner.value("name").toString().isEmpty());
    QCOMPARE(owner.value("credit").toInt(), 99);

    const ApiClient::Reply result = api.get("/Jobs/" + QString::number(id) + "/Result", token);
    QCOMPARE(result.status, 200);
    QCOMPARE(result.contentType, QByteArray("audio/wav"));
    QVERIFY(result.contentDisposition.contains("walk.wav"));
    QFile original(path);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(result.body, original.readAll());
}

void TestService::resultIsRefusedUntilReady()
{
    ServiceProcess service({"--step-ms", "2000"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int id = api.submitFile(token, writeSine("slow.wav", 1), 4).json().value("id").toInt();
    QCOMPARE(api.get("/Jobs/" + QString::number(id) + "/Result", token).status, 404);
    QCOMPARE(api.get("/Jobs/" + QString::number(id + 1), token).status, 404);
    QCOMPARE(api.get("/Jobs/" + QString::number(id + 1) + "/Result", token).status, 404);
}

void TestService::jobsBelongToTheirOwner()
{
    ServiceProcess service({"--step-ms", "0", "--user", "bob@example.org:pw"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString demo = api.logIn("demo@sonvira.local", "demo");
    const QString bob = api.logIn("bob@example.org", "pw");
    const int id = api.submitFile(demo, writeSine("own.wav", 1), 4).json().value("id").toInt();
    QCOMPARE(api.waitForJob(demo, id).value("status").toInt(), 8);
    QCOMPARE(api.get("/Jobs/" + QString::number(id), bob).status, 404);
    QCOMPARE(api.get("/Jobs/" + QString::number(id) + "/Result", bob).status, 404);
    QCOMPARE(api.get("/Jobs/" + QString::number(id) + "/Result", demo).status, 200);
}

void TestService::uploadsMissingPartsAreRefused()
{
    ServiceProcess service({"--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QFile file(writeSine("parts.wav", 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();

    QCOMPARE(api.submit(token, QByteArray(), "parts.wav", "4").status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", QByteArray()).status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", "4", QByteArray()).status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", "99").status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", "four").status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", "4", "maybe").status, 400);
    QCOMPARE(api.postRaw("/Jobs", "application/octet-stream", wav, token).status, 400);
    QCOMPARE(api.postRaw("/Jobs", "multipart/form-data; boundary=xyz", "--xyz\r\nbroken", token).status, 400);
    QCOMPARE(api.submit(token, wav, "parts.wav", "4", "false").status, 200);
}

// Each request is held to its described form: a client that departs from
// it is refused, with 415 for an upload of another type.
void TestService::requestsOutOfTheirFormAreRefused()
{
    ServiceProcess service({"--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const QByteArray bearer = "Bearer " + token.toUtf8();
    const QByteArray login = R"({"email":"demo@sonvira.local","password":"demo"})";
    QCOMPARE(api.postRaw("/Login", "text/plain", login).status, 400);
    QCOMPARE(api.postRaw("/Login", "application/json; charset=utf-8", login).status, 200);
    QCOMPARE(api.postRaw("/Login", "application/json", login, token).status, 400);
    QCOMPARE(api.getRaw("/AudioPresets", {{"Authorization", bearer}}).status, 400);
    QCOMPARE(api.getRaw("/AudioPresets", {{"Authorization", bearer}, {"Content-Type", "text/json"}}).status, 400);
    QCOMPARE(api.getRaw("/Jobs/1", {{"Authorization", bearer}}).status, 400);

    QFile file(writeSine("form.wav", 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    const QByteArray fileHead = "Content-Disposition: form-data; name=\"file\"; filename=\"form.wav\"\r\nContent-Type: ";
    const QPair<QByteArray, QByteArray> filePart{fileHead + "audio/wav", wav};
    const QPair<QByteArray, QByteArray> preset{"Content-Disposition: form-data; name=\"presetId\"", "4"};
    const QPair<QByteArray, QByteArray> accept{"Content-Disposition: form-data; name=\"acceptAnyway\"", "true"};
    const auto upload = [&](const QList<QPair<QByteArray, QByteArray>>& parts) {
        return api.postRaw("/Jobs", "multipart/form-data; boundary=b0und", multipartBody("b0und", parts), token).status;
    };
    QCOMPARE(upload({preset, filePart, accept}), 400);
    QCOMPARE(upload({filePart, preset, accept, accept}), 400);
    QCOMPARE(upload({{"Content-Disposition: form-data; name=\"file\"\r\nContent-Type: audio/wav", wav}, preset, accept}),
             400);
    QCOMPARE(upload({filePart, {preset.first, " 4"}, accept}), 400);
    QCOMPARE(upload({filePart, {preset.first, "+4"}, accept}), 400);
    QCOMPARE(upload({filePart, preset, {accept.first, "TRUE"}}), 400);
    QCOMPARE(upload({filePart, {preset.first + "\r\nContent-Type: text/plain", "4"}, accept}), 400);
    QCOMPARE(upload({{fileHead + "application/octet-stream", wav}, preset, accept}), 415);
    QCOMPARE(upload({{fileHead.left(fileHead.size() - 16), wav}, preset, accept}), 415);
    const ApiClient::Reply taken =
        api.postRaw("/Jobs", "multipart/form-data; boundary=b0und", multipartBody("b0und", {filePart, preset, accept}),
                    token);
    QCOMPARE(taken.status, 200);
    const QString result = "/Jobs/" + QString::number(api.waitForJob(token, taken.json().value("id").toInt())
                                                          .value("id").toInt()) + "/Result";
    QCOMPARE(api.getRaw(result, {{"Authorization", bearer}, {"Content-Type", "application/json"}}).status, 400);
    QCOMPARE(api.get(result, token).status, 200);
}

void TestService::undecodableUploadIsRefused()
{
    ServiceProcess service({"--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QCOMPARE(api.submit(token, QByteArray("this is not audio at all, just text"), "fake.wav", "4").status, 415);
    QCOMPARE(api.submit(token, QByteArray(""), "empty.wav", "4").status, 415);
    const QString corrupt = dir_.filePath("corrupt.wav");
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    QCOMPARE(api.submitFile(token, corrupt, 4).status, 415);
    // Nothing was taken: the next good upload becomes job 1.
    QCOMPARE(api.submitFile(token, writeSine("good.wav", 1), 4).json().value("id").toInt(), 1);
}

void TestService::creditPaysPerStartedMinute()
{
    ServiceProcess service({"--step-ms", "0", "--credit", "10"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int id = api.submitFile(token, writeSine("long.wav", 60.5), 4).json().value("id").toInt();
    const QJsonObject job = api.waitForJob(token, id);
    QCOMPARE(job.value("status").toInt(), 8);
    QCOMPARE(job.value("cost").toInt(), 2);
    QCOMPARE(job.value("owner").toObject().value("credit").toInt(), 8);
}

void TestService::jobBeyondTheCreditEndsInsufficient()
{
    ServiceProcess service({"--step-ms", "0", "--credit", "1"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int tooLong = api.submitFile(token, writeSine("two-minutes.wav", 61), 4).json().value("id").toInt();
    const QJsonObject refused = api.waitForJob(token, tooLong);
    QCOMPARE(refused.value("status").toInt(), 12);
    QCOMPARE(refused.value("owner").toObject().value("credit").toInt(), 1);
    QCOMPARE(api.get("/Jobs/" + QString::number(tooLong) + "/Result", token).status, 404);

    const int fits = api.submitFile(token, writeSine("short.wav", 1), 4).json().value("id").toInt();
    QCOMPARE(api.waitForJob(token, fits).value("status").toInt(), 8);
    const int afterwards = api.submitFile(token, writeSine("short2.wav", 1), 4).json().value("id").toInt();
    QCOMPARE(api.waitForJob(token, afterwards).value("status").toInt(), 12);
}

void TestService::fileNamesAreReadWithEscapesAndExtendedForm()
{
    ServiceProcess service({"--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QFile file(writeSine("names.wav", 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    const QByteArray boundary = "b0undary";
    auto upload = [&](const QByteArray& disposition) {
        const QByteArray body = multipartBody(boundary, {{"Content-Disposition: form-data; name=\"file\"; " + disposition
                                                              + "\r\nContent-Type: audio/wav", wav},
                                                         {"Content-Disposition: form-data; name=\"presetId\"", "4"},
                                                         {"Content-Disposition: form-data; name=\"acceptAnyway\"", "true"}});
        const int id = api.postRaw("/Jobs", "multipart/form-data; boundary=\"" + boundary + "\"", body, token)
                           .json().value("id").toInt();
        return api.get("/Jobs/" + QString::number(id), token).json().value("name").toString();
    };
    QCOMPARE(upload("filename=\"say \\\"hi\\\".wav\""), QString("say \"hi\".wav"));
    QCOMPARE(upload("filename=\"C:\\\\Users\\\\ann\\\\take.wav\""), QString("take.wav"));
    QCOMPARE(upload("filename=\"caf_.wav\"; filename*=UTF-8''caf%C3%A9.wav"), QString::fromUtf8("café.wav"));
    QCOMPARE(upload("filename=\"../../etc/passwd.wav\""), QString("passwd.wav"));
}

void TestService::servesHttpsWithAGivenCertificate()
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        QSKIP("openssl is needed to make a test certificate");
    const QString cert = dir_.filePath("cert.pem");
    const QString key = dir_.filePath("key.pem");
    QProcess make;
    make.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);

    ServiceProcess service({"--tls-cert", cert, "--tls-key", key});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(service.apiUrl().startsWith("https://127.0.0.1:"));

    auto logIn = [&](bool trustTestCertificate) {
        QNetworkAccessManager manager;   // a fresh one: no connection is reused
        QNetworkRequest request(QUrl(service.apiUrl() + "/Login"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        if (trustTestCertificate)
            tls.addCaCertificates(cert);
        request.setSslConfiguration(tls);
        QNetworkReply* reply = manager.post(request, QByteArray(R"({"email":"demo@sonvira.local","password":"demo"})"));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(10000);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QNetworkReply::NetworkError error = reply->error();
        delete reply;
        return qMakePair(status, error);
    };
    QCOMPARE(logIn(true).first, 200);
    QCOMPARE(logIn(false).second, QNetworkReply::SslHandshakeFailedError);
}

void TestService::helpDocumentsEveryOption()
{
    QProcess help;
    help.start(ServiceProcess::binaryPath(), {"--help"});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char* option : {"--port", "--listen", "--user", "--credit", "--max-body", "--data-dir", "--step-ms",
                               "--progress-points", "--workers", "--reject-uploads", "--fail-jobs", "--stall",
                               "--drop-result-after", "--drop-after-upload", "--empty-presets", "--malformed-json",
                               "--expire-token-after", "--unusual-answers", "demo@sonvira.local"})
        QVERIFY2(text.contains(option), option);

    QProcess wrong;
    wrong.start(ServiceProcess::binaryPath(), {"--port", "eighty"});
    QVERIFY(wrong.waitForFinished(10000));
    QCOMPARE(wrong.exitCode(), 2);
}

void TestService::stopsCleanlyAndLogsEachRequest()
{
    const QString data = dir_.filePath("data");
    ServiceProcess service({"--step-ms", "0", "--data-dir", data});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int id = api.submitFile(token, writeSine("logged.wav", 1), 4).json().value("id").toInt();
    QCOMPARE(api.waitForJob(token, id).value("status").toInt(), 8);
    QVERIFY(QFile::exists(data + "/results/" + QString::number(id) + ".wav"));
    QTRY_VERIFY_WITH_TIMEOUT(service.log().contains("GET /api/Jobs/1 -> 200"), 5000);
    QVERIFY(service.log().contains("POST /api/Login -> 200"));
    QVERIFY(service.log().contains("POST /api/Jobs -> 200"));
    QVERIFY(!service.log().contains(token.toUtf8()));
    QVERIFY(!service.log().contains("Bearer"));
    QVERIFY(service.stop());
    QCOMPARE(service.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
