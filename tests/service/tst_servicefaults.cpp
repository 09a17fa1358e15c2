#include "apiclient.h"
#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The service's fault modes and limits, each switched on by its option.
class TestServiceFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void rejectUploadsAnswers415();
    void failJobsEndIn11AndRefund();
    void stallDelaysOnlyMatchingRequests();
    void stalledRequestWhoseClientLeftIsDropped();
    void stopsCleanlyWhileRequestsAreHeld();
    void dropResultAfterCutsTheDownload();
    void dropAfterUploadClosesWithoutAnswer();
    void emptyPresetsAnswersAnEmptyList();
    void mixedPresetsPutOtherValuesAmongTheObjects();
    void malformedJsonHitsChosenEndpoints_data();
    void malformedJsonHitsChosenEndpoints();
    void tokenExpiresAfterItsRequests();
    void unavailableRedirectedAndRefusedRequests();
    void bodiesAboveTheLimitAreRefused();
    void declaredOversizeIsRefusedBeforeTheBody();
    void expectContinueIsAnswered();

private:
    QString sine(const QString& name, double seconds = 1);
    QTemporaryDir dir_;
};

void TestServiceFaults::initTestCase()
{
    QVERIFY(dir_.isValid());
}

QString TestServiceFaults::sine(const QString& name, double seconds)
{
    const QString path = dir_.filePath(name);
    return fixtures::writeSine(path, seconds, 1000, 0.5, fixtures::Signal{}) ? path : QString();
}

void TestServiceFaults::rejectUploadsAnswers415()
{
    ServiceProcess service({"--reject-uploads"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QCOMPARE(api.submitFile(token, sine("rejected.wav"), 4).status, 415);
    QCOMPARE(api.get("/Jobs/1", token).status, 404);
}

void TestServiceFaults::failJobsEndIn11AndRefund()
{
    ServiceProcess service({"--fail-jobs", "--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int id = api.submitFile(token, sine("failing.wav"), 4).json().value("id").toInt();
    const QJsonObject job = api.waitForJob(token, id);
    QCOMPARE(job.value("status").toInt(), 11);
    QCOMPARE(job.value("owner").toObject().value("credit").toInt(), 100);
    QCOMPARE(api.get("/Jobs/" + QString::number(id) + "/Result", token).status, 404);
}

void TestServiceFaults::stallDelaysOnlyMatchingRequests()
{
    ServiceProcess service({"--stall", "/Audio*:2"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    QElapsedTimer clock;
    clock.start();
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QVERIFY(!token.isEmpty());
    QVERIFY(clock.elapsed() < 1500);
    clock.restart();
    QCOMPARE(api.get("/AudioPresets", token).status, 200);
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
}

void TestServiceFaults::stalledRequestWhoseClientLeftIsDropped()
{
    ServiceProcess service({"--stall", "/AudioPresets:1"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(service.apiUrl() + "/AudioPresets"));
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QNetworkReply* reply = manager.get(request);
        QSignalSpy sent(reply, &QNetworkReply::requestSent);
        QVERIFY2(sent.wait(5000), "the request was never sent");
        reply->abort();
        delete reply;
    }
    QTRY_VERIFY_WITH_TIMEOUT(service.log().contains("client gone before the answer"), 5000);
    QCOMPARE(api.get("/AudioPresets", token).status, 200);
    QVERIFY(service.isRunning());
}

void TestServiceFaults::stopsCleanlyWhileRequestsAreHeld()
{
    ServiceProcess service({"--stall", "/AudioPresets:30", "--step-ms", "30000"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    QCOMPARE(api.submitFile(token, sine("held.wav"), 4).status, 200);
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(service.apiUrl() + "/AudioPresets"));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QSignalSpy sent(reply.get(), &QNetworkReply::requestSent);
    QVERIFY(sent.wait(5000));
    // A stalled answer and a job waiting in its status walk must not keep
    // the service from ending on SIGTERM, cleanly (stop() is false after a kill).
    QVERIFY(service.stop());
}

void TestServiceFaults::dropResultAfterCutsTheDownload()
{
    ServiceProcess service({"--drop-result-after", "5000", "--step-ms", "0"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const int id = api.submitFile(token, sine("cut.wav", 2), 4).json().value("id").toInt();
    QCOMPARE(api.waitForJob(token, id).value("status").toInt(), 8);
    const ApiClient::Reply result = api.get("/Jobs/" + QString::number(id) + "/Result", token);
    // The connection ends part-way: whether or not the network layer calls
    // that an error, fewer bytes arrive than the announced length.
    QVERIFY(result.contentLength > 5000);
    QCOMPARE(result.body.size(), 5000);
}

void TestServiceFaults::dropAfterUploadClosesWithoutAnswer()
{
    ServiceProcess service({"--drop-after-upload"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    const ApiClient::Reply reply = api.submitFile(token, sine("dropped.wav"), 4);
    QCOMPARE(reply.status, 0);
    QCOMPARE(reply.error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(api.get("/Jobs/1", token).status, 404);
}

void TestServiceFaults::emptyPresetsAnswersAnEmptyList()
{
    ServiceProcess service({"--empty-presets"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const ApiClient::Reply reply = api.get("/AudioPresets", api.logIn("demo@sonvira.local", "demo"));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.json().value("presets").isArray());
    QVERIFY(reply.json().value("presets").toArray().isEmpty());
}

void TestServiceFaults::mixedPresetsPutOtherValuesAmongTheObjects()
{
    ServiceProcess service({"--mixed-presets"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const ApiClient::Reply reply = api.get("/AudioPresets", api.logIn("demo@sonvira.local", "demo"));
    QCOMPARE(reply.status, 200);
    QSet<QJsonValue::Type> kinds;
    QStringList names;
    for (const QJsonValue& element : reply.json().value("presets").toArray()) {
        kinds.insert(element.type());
        if (element.isObject())
            names.append(element.toObject().value("name").toString());
    }
    QCOMPARE(kinds, (QSet<QJsonValue::Type>{QJsonValue::Double, QJsonValue::String, QJsonValue::Null,
                                             QJsonValue::Array, QJsonValue::Object}));
    QCOMPARE(names, (QStringList{"Speech -16 LUFS", "Music -14 LUFS", "Broadcast -23 LUFS", "Passthrough"}));
}

void TestServiceFaults::malformedJsonHitsChosenEndpoints_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("loginBroken");
    QTest::addColumn<bool>("presetsBroken");
    QTest::newRow("presets only") << "/AudioPresets" << false << true;
    QTest::newRow("all") << "all" << true << true;
}

void TestServiceFaults::malformedJsonHitsChosenEndpoints()
{
    QFETCH(QString, pattern);
    QFETCH(bool, loginBroken);
    QFETCH(bool, presetsBroken);
    ServiceProcess service({"--malformed-json", pattern});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const ApiClient::Reply login = api.postJson("/Login", {{"email", "demo@sonvira.local"}, {"password", "demo"}});
    QCOMPARE(login.status, 200);
    QCOMPARE(!login.isJsonObject(), loginBroken);
    if (loginBroken)
        return;
    const ApiClient::Reply presets = api.get("/AudioPresets", login.json().value("token").toString());
    QCOMPARE(presets.status, 200);
    QVERIFY(!presets.body.isEmpty());
    QCOMPARE(!presets.isJsonObject(), presetsBroken);
}

void TestServiceFaults::tokenExpiresAfterItsRequests()
{
    ServiceProcess service({"--expire-token-after", "2"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString first = api.logIn("demo@sonvira.local", "demo");
    QCOMPARE(api.get("/AudioPresets", first).status, 200);
    QCOMPARE(api.get("/AudioPresets", first).status, 200);
    QCOMPARE(api.get("/AudioPresets", first).status, 401);
    QCOMPARE(api.get("/AudioPresets", first).status, 401);
    const QString second = api.logIn("demo@sonvira.local", "demo");
    QCOMPARE(api.get("/AudioPresets", second).status, 200);
}

// The first two preset lists get 503 with Retry-After, every job status is
// redirected to another port (or, in a second service, refused with 401)
// while log-ins still work.
void TestServiceFaults::unavailableRedirectedAndRefusedRequests()
{
    ServiceProcess service({"--unavailable", "/AudioPresets:2:7", "--redirect", "/Jobs/*:4567"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    for (int i = 0; i < 2; ++i) {
        const ApiClient::Reply busy = api.get("/AudioPresets", token);
        QCOMPARE(busy.status, 503);
        QCOMPARE(busy.retryAfter, QByteArray("7"));
    }
    QCOMPARE(api.get("/AudioPresets", token).status, 200);
    const ApiClient::Reply moved = api.get("/Jobs/3", token);
    QCOMPARE(moved.status, 307);
    QCOMPARE(moved.location, QByteArray("http://127.0.0.1:4567/api/Jobs/3"));

    ServiceProcess refusing({"--refuse-polls"});
    QVERIFY2(refusing.start(), qPrintable(refusing.errorString()));
    ApiClient polls(refusing.apiUrl());
    const QString second = polls.logIn("demo@sonvira.local", "demo");
    QVERIFY(!second.isEmpty());
    QCOMPARE(polls.get("/Jobs/1", second).status, 401);
    QCOMPARE(polls.get("/AudioPresets", second).status, 200);
}

void TestServiceFaults::bodiesAboveTheLimitAreRefused()
{
    ServiceProcess service({"--max-body", "100000"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ApiClient api(service.apiUrl());
    const QString token = api.logIn("demo@sonvira.local", "demo");
    // Just above the limit: refused once the whole request is in.
    QCOMPARE(api.submitFile(token, sine("just-above.wav", 0.55), 4).status, 413);
    // Far above: refused while it is still arriving, before it is held whole.
    QCOMPARE(api.submitFile(token, sine("far-above.wav", 20), 4).status, 413);
    QVERIFY(service.log().contains("413 while receiving"));
    QCOMPARE(api.submitFile(token, sine("small.wav", 0.2), 4).status, 200);
    QCOMPARE(api.get("/AudioPresets", token).status, 200);
}

namespace {

// Sends a request head over a raw connection and returns the first answer line.
QByteArray firstAnswerLine(const QString& apiUrl, const QByteArray& head)
{
    const QUrl url(apiUrl);
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(head);
    QDeadlineTimer deadline(5000);
    while (!socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(100);
    return socket.readLine().trimmed();
}

} // namespace

void TestServiceFaults::declaredOversizeIsRefusedBeforeTheBody()
{
    ServiceProcess service({"--max-body", "100000"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    const QByteArray answer = firstAnswerLine(service.apiUrl(),
                                              "POST /api/Jobs HTTP/1.1\r\nHost: x\r\n"
                                              "Content-Type: multipart/form-data; boundary=b\r\n"
                                              "Content-Length: 1000000000000\r\n\r\n--b\r\n");
    QCOMPARE(answer, QByteArray("HTTP/1.1 413 Request Entity Too Large"));
}

void TestServiceFaults::expectContinueIsAnswered()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    const QByteArray answer = firstAnswerLine(service.apiUrl(),
                                              "POST /api/Login HTTP/1.1\r\nHost: x\r\n"
                                              "Content-Type: application/json\r\nExpect: 100-continue\r\n"
                                              "Content-Length: 50\r\n\r\n");
    QCOMPARE(answer, QByteArray("HTTP/1.1 100 Continue"));
}

QTEST_GUILESS_MAIN(TestServiceFaults)
#include "tst_servicefaults.moc"
