#include "cannedhttpserver.h"
#include "filesizelimit.h"

#include "pipeline/jobinfo.h"
#include "pipeline/tokenmanager.h"
#include "pipeline/webapi.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QMutex logMutex;
QStringList logLines;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&logMutex);
    logLines.append(message);
}

QByteArray loginReply(const QByteArray& token)
{
    return R"({"token":")" + token + R"("})";
}

// The parts of a multipart/form-data body, each as its header block and body.
QList<QPair<QByteArray, QByteArray>> multipartParts(const CannedHttpServer::Request& request)
{
    const QByteArray type = request.header("Content-Type");
    const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9).replace("\"", "");
    QList<QPair<QByteArray, QByteArray>> parts;
    QByteArray body = request.body;
    qsizetype at = body.indexOf(boundary);
    while (at >= 0) {
        const qsizetype start = at + boundary.size() + 2;
        const qsizetype next = body.indexOf("\r\n" + boundary, start);
        if (next < 0)
            break;
        const QByteArray part = body.mid(start, next - start);
        const qsizetype split = part.indexOf("\r\n\r\n");
        parts.append({part.left(split), part.mid(split + 4)});
        at = next + 2;
    }
    return parts;
}

// After calls that must send nothing: one request that is answered, so the
// server has had its chance to see anything sent before it; true when that
// request is all it saw.
bool onlyTheMarkerArrived(CannedHttpServer& server)
{
    server.setReply("/AudioPresets", 200, R"({"presets":[]})");
    WebAPI marker;
    marker.setBaseUrl(server.apiUrl());
    if (!marker.getPresets())
        return false;
    const QList<CannedHttpServer::Request> seen = server.requests();
    return seen.size() == 1 && seen.first().path.endsWith("/AudioPresets");
}

// A 16-bit stereo 48 kHz PCM WAV holding `dataBytes` of audio; with
// `claimedDataBytes` above that, a header that promises more than follows.
QByteArray wavBytes(qint32 dataBytes, qint32 claimedDataBytes = -1)
{
    const qint32 claimed = claimedDataBytes < 0 ? dataBytes : claimedDataBytes;
    QByteArray wav;
    const auto le32 = [&wav](quint32 v) { for (int i = 0; i < 4; ++i) wav.append(char((v >> (8 * i)) & 0xff)); };
    const auto le16 = [&wav](quint16 v) { wav.append(char(v & 0xff)).append(char(v >> 8)); };
    wav += "RIFF";
    le32(quint32(36 + claimed));
    wav += "WAVEfmt ";
    le32(16);
    le16(1);
    le16(2);
    le32(48000);
    le32(48000 * 4);
    le16(4);
    le16(16);
    wav += "data";
    le32(quint32(claimed));
    return wav + QByteArray(dataBytes, '\x01');
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

// A forward proxy that wants credentials: it keeps the first request line
// it is sent and answers everything with 407.
class CredentialProxy : public QObject {
public:
    CredentialProxy()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_received += socket->readAll();
                if (!m_received.contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                              "Proxy-Authenticate: Basic realm=\"office\"\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()); }
    QByteArray requestLine() const { return m_received.left(m_received.indexOf("\r\n")); }

private:
    QByteArray m_received;
    QTcpServer m_server;
};

qsizetype uploadsSeen(const CannedHttpServer& server)
{
    const QList<CannedHttpServer::Request> seen = server.requests();
    return std::count_if(seen.begin(), seen.end(),
                         [](const auto& r) { return r.method == "POST" && r.path == "/api/Jobs"; });
}

} // namespace

class TestWebApiRequests : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void loginSendsIndentedJsonAndMasksTheToken();
    void loginFailuresAndTheirMessages_data();
    void loginFailuresAndTheirMessages();
    void emptyCredentialsSendNothing();
    void presetsSkipElementsThatAreNotObjects();
    void submitJobSendsThreeFormParts();
    void submitJobRefusesUnsupportedFilesWithoutARequest();
    void submitJobFailureShapes_data();
    void submitJobFailureShapes();
    void getJobReturnsTheObjectOrNothing();
    void downloadNamesAndCleansUp();
    void downloadFailureLeavesNoFile();
    void silentServerTimesOut();
    void abortReachesAStalledUpload();
    void invalidateTokenClearsOnlyTheFailedToken();
    void setHostClearsTheToken();
    void answersAreBoundedAndResultsChecked();
    void redirectsStayWithinTheService();
    void uploadIsSentOnce();
    void uploadAnswersInAnyShape_data();
    void uploadAnswersInAnyShape();
    void uploadRefusedWhileItIsSent();
    void uploadOfAFileThatChangesLength_data();
    void uploadOfAFileThatChangesLength();
    void proxyAskingForCredentials_data();
    void proxyAskingForCredentials();
    void jobAnswersInLegitimateForms_data();
    void jobAnswersInLegitimateForms();
    void everyRequestIsSentTheSameWay();

private:
    QByteArray logIn(CannedHttpServer& server, WebAPI& api, const QByteArray& token);
};

void TestWebApiRequests::init()
{
    WebAPI::invalidateToken(QString(), true);
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
}

void TestWebApiRequests::cleanup()
{
    qInstallMessageHandler(nullptr);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
}

QByteArray TestWebApiRequests::logIn(CannedHttpServer& server, WebAPI& api, const QByteArray& token)
{
    server.setReply("/Login", 200, loginReply(token));
    api.setBaseUrl(server.apiUrl());
    if (!api.login("demo@sonvira.local", "secret-password"))
        return {};
    return WebAPI::token().toUtf8();
}

void TestWebApiRequests::loginSendsIndentedJsonAndMasksTheToken()
{
    CannedHttpServer server;
    WebAPI api;
    {
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    qInstallMessageHandler(captureLog);
    QCOMPARE(logIn(server, api, "tok-0123456789abcdef"), QByteArray("tok-0123456789abcdef"));
    qInstallMessageHandler(nullptr);

    const CannedHttpServer::Request login = server.requests().value(0);
    QCOMPARE(login.method, QByteArray("POST"));
    QCOMPARE(login.path, QByteArray("/api/Login"));
    QCOMPARE(login.header("Content-Type"), QByteArray("application/json"));
    QVERIFY(!login.hasHeader("Authorization"));
    const QJsonObject expected{{"email", "demo@sonvira.local"}, {"password", "secret-password"}};
    QCOMPARE(login.body, QJsonDocument(expected).toJson(QJsonDocument::Indented));

    const QString log = logLines.join('\n');
    QVERIFY2(log.contains("Token set: tok-..."), qPrintable(log + "|"));
    QVERIFY2(!log.contains("0123456789abcdef"), qPrintable(log));
    QVERIFY2(!log.contains("secret-password"), qPrintable(log));

    server.setReply("/AudioPresets", 200, R"({"presets":[]})");
    QVERIFY(api.getPresets());
    QCOMPARE(server.requests().value(1).header("Authorization"), QByteArray("Bearer tok-0123456789abcdef"));
}

void TestWebApiRequests::loginFailuresAndTheirMessages_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("apiError");
    QTest::addColumn<QByteArray>("managerError");
    QTest::newRow("wrong password") << 401 << QByteArray("{}") << "401 - "
                                    << QByteArray("Can't log in: Invalid username/password (401)");
    QTest::newRow("not json") << 200 << QByteArray("<html>") << "Error parsing response"
                              << QByteArray("Error parsing response");
    QTest::newRow("no content") << 204 << QByteArray() << "Error parsing response"
                                << QByteArray("Error parsing response");
    QTest::newRow("no token") << 200 << QByteArray(R"({"user":1})") << "Token not found in response"
                              << QByteArray("Token not found in response");
    QTest::newRow("server error") << 500 << QByteArray("{}") << "500 - " << QByteArray("500 - ");
    // A token that would add header lines of its own to every later request.
    QTest::newRow("token with a line break") << 200 << QByteArray(R"({"token":"abc\r\nX-Evil: 1"})")
                                             << "Token not found in response"
                                             << QByteArray("Token not found in response");
}

void TestWebApiRequests::loginFailuresAndTheirMessages()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, apiError);
    QFETCH(QByteArray, managerError);
    CannedHttpServer server;
    server.setReply("/Login", status, body);
    tokenManager tokens;
    tokens.setHost(server.apiUrl());
    QByteArray error;
    QVERIFY(!tokens.login("demo@sonvira.local", "wrong", error));
    QVERIFY2(error.startsWith(managerError), error.constData());
    QVERIFY(!tokens.hasToken());

    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    QVERIFY(!api.login("demo@sonvira.local", "wrong"));
    QVERIFY2(api.lastError().startsWith(apiError), qPrintable(api.lastError()));
}

void TestWebApiRequests::emptyCredentialsSendNothing()
{
    CannedHttpServer server;
    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    QVERIFY(!api.login("demo@sonvira.local", ""));
    QCOMPARE(api.lastError(), QStringLiteral("400 - No username/password"));
    QVERIFY(!api.login("", "pw"));

    tokenManager tokens;
    tokens.setHost(server.apiUrl());
    QByteArray error;
    QVERIFY(!tokens.login("demo@sonvira.local", "", error));
    QCOMPARE(error, QByteArray("Can't log in: No username/password (400)"));

    tokens.setEnabled(false);
    QVERIFY(!tokens.login("demo@sonvira.local", "pw", error));
    QVERIFY(onlyTheMarkerArrived(server));
}

void TestWebApiRequests::presetsSkipElementsThatAreNotObjects()
{
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setReply("/AudioPresets", 200,
                    R"({"presets":[{"id":7,"name":"Voice"},3,"x",null,[1],{"id":12,"name":"Music -14 LUFS"}]})");
    QVERIFY(api.getPresets());
    QCOMPARE(api.presets(), (QList<QByteArray>{"7: Voice", "12: Music -14 LUFS"}));
    const CannedHttpServer::Request request = server.requests().last();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.path, QByteArray("/api/AudioPresets"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));

    server.setReply("/AudioPresets", 200, R"({"list":[]})");
    QVERIFY(!api.getPresets());
    QCOMPARE(api.lastError(), QStringLiteral("Presets not found in response"));
    QCOMPARE(api.presets().size(), 2);
    server.setReply("/AudioPresets", 200, R"([1,2])");
    QVERIFY(!api.getPresets());
    QCOMPARE(api.lastError(), QStringLiteral("Error parsing response"));
}

void TestWebApiRequests::submitJobSendsThreeFormParts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Take 1.WAV");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF-not-really-a-wav");
    file.close();

    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setReply("/Jobs", 200, R"({"id":42,"status":3})");
    QCOMPARE(api.submitJob(path, 7, true), 42);
    QCOMPARE(api.lastJobId(), 42);
    QCOMPARE(api.lastError(), QString());

    const CannedHttpServer::Request request = server.requests().last();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/api/Jobs"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer token-1234"));
    QVERIFY(request.header("Content-Type").startsWith("multipart/form-data; boundary="));
    const auto parts = multipartParts(request);
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0].first, QByteArray("Content-Disposition: form-data; name=\"file\"; filename=\"Take 1.WAV\"\r\n"
                                        "Content-Type: audio/wav"));
    QCOMPARE(parts[0].second, QByteArray("RIFF-not-really-a-wav"));
    QCOMPARE(parts[1].first, QByteArray("Content-Disposition: form-data; name=\"presetId\""));
    QCOMPARE(parts[1].second, QByteArray("7"));
    QCOMPARE(parts[2].first, QByteArray("Content-Disposition: form-data; name=\"acceptAnyway\""));
    QCOMPARE(parts[2].second, QByteArray("true"));
    QVERIFY2(api.uploadedBytes() >= request.body.size(), QByteArray::number(api.uploadedBytes()).constData());
}

void TestWebApiRequests::submitJobRefusesUnsupportedFilesWithoutARequest()
{
    QTemporaryDir dir;
    const QString m4a = dir.filePath("voice.m4a");
    QFile file(m4a);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    CannedHttpServer server;
    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    QCOMPARE(api.submitJob(m4a, 1, true), -1);
    QCOMPARE(api.submitJob(dir.filePath("missing.wav"), 1, true), -1);
    QVERIFY(api.lastError().startsWith("Cannot open file:"));
    QVERIFY(onlyTheMarkerArrived(server));
}

void TestWebApiRequests::submitJobFailureShapes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("415") << 415 << QByteArray("{}") << "415 - ";
    QTest::newRow("no id") << 200 << QByteArray(R"({"status":3})") << "ID not found in response";
    QTest::newRow("not an object") << 200 << QByteArray("42") << "Error parsing response";
    for (const char* id : {"null", "-3", "4.5", "\"4x\"", "\"\"", "3000000000", "true", "{}"})
        QTest::addRow("id %s", id) << 200 << QByteArray(R"({"id":)") + id + '}' << "ID not found in response";
}

void TestWebApiRequests::submitJobFailureShapes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QFile file(dir.filePath("a.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("ID3");
    file.close();
    CannedHttpServer server;
    server.setReply("/Jobs", status, body);
    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    QCOMPARE(api.submitJob(file.fileName(), 1, false), -1);
    QVERIFY2(api.lastError().startsWith(error), qPrintable(api.lastError()));
    const auto parts = multipartParts(server.requests().value(0));
    QVERIFY(parts.value(0).first.endsWith("Content-Type: audio/mpeg"));
    QCOMPARE(parts.value(2).second, QByteArray("false"));
}

void TestWebApiRequests::getJobReturnsTheObjectOrNothing()
{
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setReply("/Jobs/9", 200, R"({"id":9,"status":6,"percentComplete":40.4})");
    const QJsonObject job = api.getJob(9);
    QCOMPARE(job.value("status").toInt(), 6);
    QCOMPARE(server.requests().last().header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(server.requests().last().path, QByteArray("/api/Jobs/9"));

    server.setReply("/Jobs/10", 200, "{\"id\":");
    QVERIFY(api.getJob(10).isEmpty());
    QCOMPARE(api.lastError(), QStringLiteral("Error parsing response"));
    QVERIFY(api.getJob(11).isEmpty());
    QVERIFY(api.lastError().startsWith("404 - "));
}

void TestWebApiRequests::downloadNamesAndCleansUp()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("result.wav");
    QFile existing(target);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    const QByteArray body = wavBytes(300000);
    server.setReply("/Jobs/5/Result", 200, body, "audio/wav");

    const QString written = api.downloadResult(5, target);
    QCOMPARE(written, QDir::toNativeSeparators(dir.filePath("result (1).wav")));
    QFile result(written);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), body);
    const CannedHttpServer::Request request = server.requests().last();
    QVERIFY(!request.hasHeader("Content-Type"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer token-1234"));

    api.uniqueResultName = false;
    QCOMPARE(api.downloadResult(5, target), QString());
    QCOMPARE(api.lastError(), QStringLiteral("File already exists"));

    api.overwriteResult = true;
    QCOMPARE(api.downloadResult(5, target), QDir::toNativeSeparators(target));
    QCOMPARE(QFileInfo(target).size(), qint64(body.size()));

    api.overwriteResult = false;
    QCOMPARE(api.downloadResult(5, dir.filePath("fresh.wav")), QDir::toNativeSeparators(dir.filePath("fresh.wav")));

    // A whole WAV file is taken whatever type and encoding it came in.
    const QByteArray deflated = qCompress(body).mid(4);
    server.setRawReply("/Jobs/9/Result", {"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                          "Content-Encoding: deflate\r\nContent-Length: "
                                          + QByteArray::number(deflated.size()) + "\r\n\r\n" + deflated});
    const QString packed = api.downloadResult(9, dir.filePath("packed.wav"));
    QVERIFY2(!packed.isEmpty(), qPrintable(api.lastError()));
    QFile unpacked(packed);
    QVERIFY(unpacked.open(QIODevice::ReadOnly));
    QCOMPARE(unpacked.readAll(), body);

    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"fresh.wav", "packed.wav", "result (1).wav", "result.wav"}));
}

void TestWebApiRequests::downloadFailureLeavesNoFile()
{
    QTemporaryDir dir;
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setReply("/Jobs/6/Result", 404, "not ready");
    QCOMPARE(api.downloadResult(6, dir.filePath("r.wav")), QString());
    QVERIFY(api.lastError().startsWith("404 - "));

    server.setReply("/Jobs/7/Result", 200, "data", "audio/wav");
    QCOMPARE(api.downloadResult(7, dir.filePath("missing-folder/r.wav")), QString());
    QCOMPARE(api.lastError(), QStringLiteral("Cannot open file for writing"));
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    // A disk that fills up part-way through a result written block by block.
    server.setReply("/Jobs/8/Result", 200, wavBytes(600000), "audio/wav");
    {
        const fixtures::FileSizeLimit full(200 * 1024);
        QVERIFY(full.isActive());
        QCOMPARE(api.downloadResult(8, dir.filePath("r.wav")), QString());
    }
    QCOMPARE(api.lastError(), QStringLiteral("Cannot open file for writing"));
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

void TestWebApiRequests::silentServerTimesOut()
{
    CannedHttpServer server;
    server.setSilent("/Jobs/3");
    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    WebAPI::setStallTimeout(300);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(api.getJob(3).isEmpty());
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY2(api.lastError().startsWith(" - Request timed out"), qPrintable(api.lastError()));
}

void TestWebApiRequests::abortReachesAStalledUpload()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("a.wav"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF");
    file.close();
    CannedHttpServer server;
    server.setSilent("/Jobs");
    WebAPI api;
    api.setBaseUrl(server.apiUrl());
    QTimer::singleShot(200, &api, [&api] { api.abortCurrentRequest(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(api.submitJob(file.fileName(), 1, true), -1);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY2(api.lastError().startsWith(" - "), qPrintable(api.lastError()));

    // A get of the job status is not abortable by a cancel, only by a stop.
    server.setSilent("/Jobs/1");
    QTimer::singleShot(100, &api, [&api] { api.abortCurrentRequest(); });
    QTimer::singleShot(400, &api, [&api] { api.abortAllRequests(); });
    clock.restart();
    QVERIFY(api.getJob(1).isEmpty());
    QVERIFY(clock.elapsed() >= 350);
}

void TestWebApiRequests::invalidateTokenClearsOnlyTheFailedToken()
{
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "first-token").isEmpty());
    QVERIFY(WebAPI::invalidateToken("first-token", false));
    QVERIFY(WebAPI::token().isEmpty());
    QVERIFY(!logIn(server, api, "second-token").isEmpty());
    // A second thread that failed with the old token leaves the new one alone.
    QVERIFY(!WebAPI::invalidateToken("first-token", false));
    QCOMPARE(WebAPI::token(), QStringLiteral("second-token"));
    QVERIFY(WebAPI::invalidateToken(QString(), true));
    QVERIFY(WebAPI::token().isEmpty());
}

void TestWebApiRequests::setHostClearsTheToken()
{
    CannedHttpServer server;
    server.setReply("/Login", 200, loginReply("host-token"));
    tokenManager tokens;
    tokens.setHost(server.apiUrl());
    QCOMPARE(WebAPI::sessionHostUrl(), server.apiUrl());
    QByteArray error;
    QVERIFY(tokens.login("demo@sonvira.local", "pw", error));
    QCOMPARE(tokens.currentToken(), QByteArray("host-token"));
    tokens.setHost(server.apiUrl() + "/");
    QVERIFY(!tokens.hasToken());
    QString message;
    QVERIFY(tokens.testCall(message));
    QCOMPARE(message, QStringLiteral("Test call OK"));
}

// Debug output is filtered per test rather than by the environment, so the
// log-masking test can see the client's debug lines.
// JSON answers beyond their bound are refused as they arrive; a result that
// is not audio or whose WAV header promises more than came is never taken.
// Both are failures that may pass (tried again later).
void TestWebApiRequests::answersAreBoundedAndResultsChecked()
{
    QTemporaryDir dir;
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    const QByteArray padding(int(WebAPI::kMaxJsonBytes), ' ');
    server.setReply("/Jobs/1", 200, R"({"id":1,"status":6})" + padding);
    QVERIFY(api.getJob(1).isEmpty());
    QCOMPARE(api.lastError(), QStringLiteral("200 - Answer too large (more than 1 MiB)"));
    QVERIFY(api.lastFailureMayPass());

    const QByteArray longName(2 * 1024 * 1024, 'n');
    server.setReply("/AudioPresets", 200, R"({"presets":[{"id":1,"name":")" + longName + R"("}]})");
    QVERIFY2(api.getPresets(), qPrintable(api.lastError()));
    server.setReply("/AudioPresets", 200, R"({"presets":[]})" + QByteArray(int(WebAPI::kMaxPresetsBytes), ' '));
    QVERIFY(!api.getPresets());
    QCOMPARE(api.lastError(), QStringLiteral("200 - Answer too large (more than 16 MiB)"));

    server.setReply("/Jobs/2/Result", 200, "<html>Service busy</html>", "text/html");
    QCOMPARE(api.downloadResult(2, dir.filePath("page.wav")), QString());
    QVERIFY2(api.lastError().contains("not audio"), qPrintable(api.lastError()));
    QVERIFY(api.lastFailureMayPass());
    server.setReply("/Jobs/3/Result", 200, wavBytes(1000, 96000), "audio/wav");
    QCOMPARE(api.downloadResult(3, dir.filePath("cut.wav")), QString());
    QVERIFY2(api.lastError().contains("not whole"), qPrintable(api.lastError()));
    QVERIFY(api.lastFailureMayPass());
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

// A redirect within the service is followed with the token; one to another
// port is refused before anything is sent there.
void TestWebApiRequests::redirectsStayWithinTheService()
{
    CannedHttpServer service;
    CannedHttpServer elsewhere;
    WebAPI api;
    QVERIFY(!logIn(service, api, "token-1234").isEmpty());
    service.setReply("/Jobs/1", 307, "{}", "application/json", "Location: " + elsewhere.apiUrl() + "/Jobs/1\r\n");
    QVERIFY(api.getJob(1).isEmpty());
    QVERIFY2(api.lastError().contains("Redirect to another host refused"), qPrintable(api.lastError()));
    QCOMPARE(api.lastFailure(), WebAPI::Failure::Redirect);
    QVERIFY(elsewhere.requests().isEmpty());

    service.setReply("/Jobs/3", 200, R"({"id":3,"status":8})");
    for (const int status : {301, 302, 303, 307, 308}) {
        service.setReply("/Jobs/2", status, "{}", "application/json", "Location: /api/Jobs/3\r\n");
        QCOMPARE(api.getJob(2).value("id").toInt(), 3);
        QCOMPARE(service.requests().last().header("Authorization"), QByteArray("Bearer token-1234"));
        service.setReply("/Jobs/4", status, "{}", "application/json",
                         "Location: " + elsewhere.apiUrl() + "/Jobs/3\r\n");
        QVERIFY(api.getJob(4).isEmpty());
    }
    QVERIFY(elsewhere.requests().isEmpty());
}

// A connection closed after the upload, before its answer: the body went
// out once, and the loss is reported as such.
void TestWebApiRequests::uploadIsSentOnce()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("once.wav"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(wavBytes(4000));
    file.close();
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setDropped("/Jobs");
    QCOMPARE(api.submitJob(file.fileName(), 1, true), -1);
    QVERIFY(api.lastUploadAnswerLost());
    QTest::qWait(200);
    QCOMPARE(uploadsSeen(server), 1);
}

// The upload's answer in the shapes a server or a proxy may give it, and
// what each comes to; "URL" stands for the service's address.
void TestWebApiRequests::uploadAnswersInAnyShape_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("close");
    QTest::addColumn<int>("jobId");
    QTest::addColumn<WebAPI::Failure>("failure");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("lost");

    using F = WebAPI::Failure;
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    QTest::newRow("chunked") << QList<QByteArray>{chunked, "4\r\n{\"id\r\n", "5\r\n\":42}\r\n0\r\n\r\n"} << false << 42
                             << F::None << QString() << false;
    QTest::newRow("unasked 100 Continue")
        << QList<QByteArray>{"HTTP/1.1 100 Continue\r\n\r\n", ok + "Content-Length: 9\r\n\r\n{\"id\":42}"} << false
        << 42 << F::None << QString() << false;
    QTest::newRow("split within lines")
        << QList<QByteArray>{"HTTP/1.1 20", "0 OK\r\nContent-Le", "ngth: 9\r\n\r\n{\"id\"", ":42}"} << false << 42
        << F::None << QString() << false;
    QTest::newRow("HTTP/1.0 until the close") << QList<QByteArray>{"HTTP/1.0 200 OK\r\n\r\n{\"id\":42}"} << true << 42
                                              << F::None << QString() << false;
    QTest::newRow("201 with the id as text")
        << QList<QByteArray>{"HTTP/1.1 201 Created\r\nLocation: /api/Jobs/42\r\nContent-Type: application/json; "
                             "charset=utf-8\r\nContent-Length: 14\r\n\r\n{ \"id\": \"42\" }"}
        << false << 42 << F::None << QString() << false;
    QTest::newRow("busy") << QList<QByteArray>{"HTTP/1.1 503 Busy\r\nRetry-After: 3\r\nContent-Length: 2\r\n\r\n{}"}
                          << false << -1 << F::Busy
                          << "503 - Error transferring URL/Jobs - server replied: Busy" << false;
    QTest::newRow("cut chunked answer") << QList<QByteArray>{chunked, "4\r\n{\"id\r\n"} << true << -1 << F::Network
                                        << "200 - " << true;
    QTest::newRow("not HTTP") << QList<QByteArray>{"SSH-2.0-OpenSSH_9.2\r\n\r\n"} << false << -1 << F::Network
                              << " - " << true;
    QTest::newRow("too large") << QList<QByteArray>{ok + "Content-Length: 2000000\r\n\r\n{"} << false << -1
                               << F::Unreadable << "200 - Answer too large (more than 1 MiB)" << false;
    QTest::newRow("redirect within the service")
        << QList<QByteArray>{"HTTP/1.1 307 Again\r\nLocation: /api/Jobs2\r\nContent-Length: 0\r\n\r\n"} << false << -1
        << F::Refused << "307 - Redirect of the upload not followed: URL/Jobs2" << false;
    QTest::newRow("redirect away")
        << QList<QByteArray>{"HTTP/1.1 308 Moved\r\nLocation: http://elsewhere.invalid/api/Jobs?k=1\r\n"
                             "Content-Length: 0\r\n\r\n"} << false
        << -1 << F::Redirect << "308 - Redirect to another host refused: http://elsewhere.invalid/api/Jobs" << false;
}

// Whatever the shape, the body goes out once and a whole answer is read
// as it is meant; one that is not whole after the body went out is lost.
void TestWebApiRequests::uploadAnswersInAnyShape()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, close);
    QFETCH(int, jobId);
    QFETCH(WebAPI::Failure, failure);
    QFETCH(QString, error);
    QFETCH(bool, lost);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "take.wav", wavBytes(300000));
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setRawReply("/Jobs", pieces, close);
    QCOMPARE(api.submitJob(path, 1, true), jobId);
    QCOMPARE(api.lastFailure(), failure);
    QCOMPARE(api.lastUploadAnswerLost(), lost);
    QVERIFY2(api.lastError().startsWith(error.replace("URL", server.apiUrl())), qPrintable(api.lastError()));
    if (failure == WebAPI::Failure::Busy)
        QCOMPARE(api.lastRetryAfterMs(), 3000);
    QTest::qWait(100);
    QCOMPARE(uploadsSeen(server), 1);
}

// A service may refuse a body once it has its header block and close the
// connection before reading the rest: the refusal is what counts, never a
// broken connection nor a lost answer.
void TestWebApiRequests::uploadRefusedWhileItIsSent()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "large.wav", wavBytes(32 * 1024 * 1024));
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setAnsweredEarly("/Jobs", 413, R"({"error":"Request body too large"})");
    QCOMPARE(api.submitJob(path, 1, true), -1);
    QVERIFY2(api.lastError().startsWith("413 - Error transferring "), qPrintable(api.lastError()));
    QCOMPARE(api.lastFailure(), WebAPI::Failure::Refused);
    QVERIFY(!api.lastUploadAnswerLost());
}

void TestWebApiRequests::uploadOfAFileThatChangesLength_data()
{
    QTest::addColumn<bool>("grows");
    QTest::newRow("shorter") << false;
    QTest::newRow("longer") << true;
}

// The body's length is announced before the file is read: a file that
// changes meanwhile fails the upload locally, and the service never gets a
// whole request whose body is not the file.
void TestWebApiRequests::uploadOfAFileThatChangesLength()
{
    QFETCH(bool, grows);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "growing.wav", wavBytes(24 * 1024 * 1024));
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setReply("/Jobs", 200, R"({"id":42})");
    server.setHeld(true);
    QTimer::singleShot(300, &server, [&] {
        QFile file(path);
        if (grows && file.open(QIODevice::Append))
            file.write(QByteArray(1000, 'x'));
        else if (!grows)
            file.resize(1024 * 1024);
        server.setHeld(false);
    });
    QCOMPARE(api.submitJob(path, 1, true), -1);
    QCOMPARE(api.lastFailure(), WebAPI::Failure::Local);
    QCOMPARE(api.lastError(), grows ? QStringLiteral("The file got longer while it was being sent")
                                    : QStringLiteral("The file got shorter while it was being sent"));
    QVERIFY(!api.lastUploadAnswerLost());
    QTest::qWait(200);
    QCOMPARE(uploadsSeen(server), 0);
}

// Behind a proxy that wants credentials a plain-http service is asked for
// through it as an ordinary proxied request and an https one through a
// tunnel; either way the user reads that the proxy wants credentials, not
// a network failure.
void TestWebApiRequests::proxyAskingForCredentials_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("apiUrl");
    QTest::addColumn<QByteArray>("requestLine");
    QTest::newRow("http") << QByteArray("http_proxy") << QByteArray("http://sonvira.invalid/api")
                          << QByteArray("POST http://sonvira.invalid/api/Login HTTP/1.1");
    QTest::newRow("https") << QByteArray("https_proxy") << QByteArray("https://sonvira.invalid/api")
                           << QByteArray("CONNECT sonvira.invalid:443 HTTP/1.1");
}

void TestWebApiRequests::proxyAskingForCredentials()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, apiUrl);
    QFETCH(QByteArray, requestLine);
    CredentialProxy proxy;
    qputenv(variable.constData(), proxy.url());
    qunsetenv("no_proxy");
    WebAPI api;
    api.setBaseUrl(apiUrl);
    const bool loggedIn = api.login("demo@sonvira.local", "secret-password");
    qunsetenv(variable.constData());
    QVERIFY(!loggedIn);
    QCOMPARE(proxy.requestLine(), requestLine);
    QCOMPARE(api.lastError(), QStringLiteral("407 - The proxy asks for credentials"));
}

// A job answer in the forms a service or what stands before it may give it:
// each reads as the same job.
void TestWebApiRequests::jobAnswersInLegitimateForms_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("close");
    const QByteArray job = R"({"id":7,"status":8,"owner":{"credit":99.5}})";
    const auto sized = [](const QByteArray& head, const QByteArray& body) {
        return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray gzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xab\x56\xca\x4c\x51\xb2\x32\xd7\x51\x2a\x2e"
                             "\x49\x2c\x29\x2d\x56\xb2\xb2\xd0\x51\xca\x2f\xcf\x4b\x2d\x52\xb2\xaa\x56\x4a\x2e\x4a"
                             "\x4d\xc9\x2c\x51\xb2\xb2\xb4\xd4\x33\xad\xad\x05\x00\x8a\x0f\x0d\x3b\x2b\x00\x00\x00",
                             63);
    QTest::newRow("charset") << sized(ok + "Content-Type: application/json; charset=utf-8\r\n", job) << false;
    QTest::newRow("no type") << sized(ok, job) << false;
    QTest::newRow("text/plain") << sized(ok + "Content-Type: text/plain\r\n", job) << false;
    QTest::newRow("BOM and whitespace")
        << sized(ok, "\xEF\xBB\xBF \r\n\t" + QJsonDocument::fromJson(job).toJson(QJsonDocument::Indented) + "\n\n")
        << false;
    QTest::newRow("unknown fields and nulls")
        << sized(ok, R"({"id":7,"status":8,"name":null,"created":null,"percentComplete":null,"duration":null,)"
                     R"("owner":{"credit":99.5,"email":null,"plan":{"tier":"pro"}},"links":[],"x-trace":"a"})")
        << false;
    QTest::newRow("gzip") << sized(ok + "Content-Encoding: gzip\r\n", gzipped) << false;
    QTest::newRow("deflate") << sized(ok + "Content-Encoding: deflate\r\n", qCompress(job).mid(4)) << false;
    QTest::newRow("HTTP/1.0 until the close") << "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + job
                                              << true;
    QTest::newRow("closed after the answer") << sized(ok + "Connection: close\r\n", job) << true;
    QTest::newRow("203") << sized("HTTP/1.1 203 Non-Authoritative Information\r\n", job) << false;
    QTest::newRow("early hints first") << "HTTP/1.1 103 Early Hints\r\nLink: </style.css>\r\n\r\n" + sized(ok, job)
                                       << false;
    QTest::newRow("no reason phrase") << sized("HTTP/1.1 200 \r\n", job) << false;
}

void TestWebApiRequests::jobAnswersInLegitimateForms()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, close);
    CannedHttpServer server;
    WebAPI api;
    QVERIFY(!logIn(server, api, "token-1234").isEmpty());
    server.setRawReply("/Jobs/7", {answer}, close);
    const JobInfo job = JobInfo::fromJson(api.getJob(7));
    QVERIFY2(api.lastError().isEmpty(), qPrintable(api.lastError()));
    QCOMPARE(job.id, 7);
    QCOMPARE(job.status, 8);
    QCOMPARE(job.ownerCredit, 99);
}

// Every request names the same client, takes a compressed answer, and goes
// to the path below the base URL however that URL ends; an upload's
// boundary needs no quotes and a file name goes out as it is, in UTF-8.
void TestWebApiRequests::everyRequestIsSentTheSameWay()
{
    QTemporaryDir dir;
    const QString name = QStringLiteral("Gr\u00fc\u00dfe \"1\".wav");
    const QString path = writeFile(dir, name, wavBytes(1000));
    CannedHttpServer server;
    WebAPI api;
    server.setReply("/Login", 200, loginReply("token-1234"));
    server.setReply("/AudioPresets", 200, R"({"presets":[{"id":"3","name":"Voice"}]})");
    server.setReply("/Jobs", 200, R"({"id":42})");
    server.setReply("/Jobs/42", 200, R"({"id":42,"status":8})");
    server.setReply("/Jobs/42/Result", 200, wavBytes(1000), "audio/wav");
    api.setBaseUrl(server.apiUrl() + "/");
    QVERIFY(api.login("demo@sonvira.local", "pw"));
    QVERIFY(api.getPresets());
    QCOMPARE(api.presets(), QList<QByteArray>{"3: Voice"});
    QCOMPARE(api.submitJob(path, 3, true), 42);
    QVERIFY(!api.getJob(42).isEmpty());
    QVERIFY(!api.downloadResult(42, dir.filePath("out.wav")).isEmpty());

    const QList<CannedHttpServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 5);
    for (const CannedHttpServer::Request& request : requests) {
        QVERIFY2(request.path.startsWith("/api/") && !request.path.contains("//"), request.path.constData());
        QCOMPARE(request.header("User-Agent"), QByteArray("Mozilla/5.0"));
        QVERIFY(request.header("Accept-Encoding").contains("gzip"));
        QVERIFY(!request.hasHeader("Expect"));
    }
    const QByteArray type = requests.at(2).header("Content-Type");
    QVERIFY2(QRegularExpression("^multipart/form-data; boundary=[A-Za-z0-9._-]{1,70}$").match(QString::fromLatin1(type)).hasMatch(),
             type.constData());
    const QByteArray disposition = multipartParts(requests.at(2)).value(0).first;
    QCOMPARE(disposition.left(disposition.indexOf("\r\n")),
             "Content-Disposition: form-data; name=\"file\"; filename=\"Gr\xc3\xbc\xc3\x9f" "e %221%22.wav\"");
}

int main(int argc, char** argv)
{
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    TestWebApiRequests test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webapirequests.moc"
