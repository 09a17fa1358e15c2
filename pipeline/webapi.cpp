#include "pipeline/webapi.h"

#include "pipeline/curlrequest.h"
#include "pipeline/formbody.h"
#include "pipeline/lockedaccess.h"
#include "pipeline/singlereadfile.h"
#include "pipeline/uploadform.h"
#include "pipeline/wavcheck.h"
#include "pipeline/webreplies.h"
#include "settings/naming.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStorageInfo>
#include <QUrl>

#include <memory>

namespace {

constexpr int kMaxRedirects = 5;
// The most a second of audio may come back as: 192 kHz, 8 channels, 32 bits.
constexpr qint64 kMaxResultBytesPerSecond = 192000LL * 8 * 4;
constexpr qint64 kResultAllowanceBytes = 64 * 1024 * 1024;

QMutex tokenMutex;
QString sharedToken;

QMutex hostMutex;
QByteArray sharedHostUrl;

// The trusted authorities in PEM when some were added to the system's
// store; empty while the system's store alone is trusted.
QMutex tlsMutex;
QByteArray trustedPem;

std::atomic<int> stallTimeoutMs{WebAPI::kDefaultStallTimeoutMs};
std::atomic<int> loginDeadlineMs{WebAPI::kLoginDeadlineMs};
std::atomic<int> requestDeadlineMs{WebAPI::kRequestDeadlineMs};

QByteArray caCertificatesPem()
{
    return lockedaccess::copy(tlsMutex, trustedPem);
}

QString maskedToken(const QString& token)
{
    return token.left(4) + QStringLiteral("...");
}

QString fileExtension(const QString& filePath)
{
    const QString name = QFileInfo(filePath).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

QByteArray contentTypeFor(const QString& extension)
{
    if (extension == QLatin1String("wav"))
        return "audio/wav";
    if (extension == QLatin1String("mp3"))
        return "audio/mpeg";
    return {};
}

QString partFileNameFor(const QString& targetPath)
{
    const QFileInfo target(targetPath);
    const QString random = QString::number(QRandomGenerator::global()->generate64(), 16);
    return target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1Char('.') + random
        + QLatin1String(".part");
}

int defaultPort(const QUrl& url)
{
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && defaultPort(a) == defaultPort(b);
}

QString shownUrl(const QUrl& url)
{
    return url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
}

QString sizeText(qint64 bytes)
{
    return bytes % (1024 * 1024) == 0 ? QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024))
                                      : QStringLiteral("%1 bytes").arg(bytes);
}

bool isRedirect(int status)
{
    return status >= 300 && status < 400;
}

// The bytes a result may take in `folder` before the disk would keep less
// than the minimum free; 0 when that point is already passed.
qint64 diskRoomFor(const QString& folder)
{
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return std::numeric_limits<qint64>::max();
    return qMax<qint64>(0, storage.bytesAvailable() - WebAPI::kMinFreeDiskBytes);
}

} // namespace

WebAPI::WebAPI() = default;

WebAPI::~WebAPI()
{
    qDebug() << "~WebApi ";
}

QString WebAPI::token()
{
    return lockedaccess::copy(tokenMutex, sharedToken);
}

void WebAPI::setToken(const QString& token)
{
    lockedaccess::assign(tokenMutex, sharedToken, token);
}

bool WebAPI::invalidateToken(const QString& failedToken, bool always)
{
    QMutexLocker lock(&tokenMutex);
    if (!always && sharedToken != failedToken)
        return false;
    sharedToken.clear();
    return true;
}

QByteArray WebAPI::sessionHostUrl()
{
    return lockedaccess::copy(hostMutex, sharedHostUrl);
}

void WebAPI::setSessionHostUrl(const QByteArray& url)
{
    lockedaccess::assign(hostMutex, sharedHostUrl, url);
}

int WebAPI::stallTimeout()
{
    return stallTimeoutMs;
}

void WebAPI::setDeadlines(int loginMs, int requestMs)
{
    loginDeadlineMs = loginMs;
    requestDeadlineMs = requestMs;
}

void WebAPI::setStallTimeout(int milliseconds)
{
    stallTimeoutMs = milliseconds;
}

// The added authorities replace curl's store, so the system's own go with them.
void WebAPI::addCaCertificates(const QList<QSslCertificate>& certificates)
{
    QMutexLocker lock(&tlsMutex);
    if (trustedPem.isEmpty()) {
        for (const QSslCertificate& certificate : QSslConfiguration::systemCaCertificates())
            trustedPem += certificate.toPem();
    }
    for (const QSslCertificate& certificate : certificates)
        trustedPem += certificate.toPem();
}

qint64 WebAPI::maxResultBytes(double seconds)
{
    if (seconds < 0)
        return 0;
    return qint64(std::ceil(seconds)) * kMaxResultBytesPerSecond + kResultAllowanceBytes;
}

void WebAPI::setBaseUrl(const QByteArray& url)
{
    if (!m_baseUrl.isEmpty())
        qDebug().noquote() << "Host replaced from: " + QString::fromUtf8(m_baseUrl) + " to  " + QString::fromUtf8(url);
    m_baseUrl = url;
}

void WebAPI::abortCurrentRequest()
{
    qDebug() << "abortCurrentRequest only implemented for file submission/result download";
    m_abortRequested = true;
}

void WebAPI::abortAllRequests()
{
    m_abortAll = true;
}

QByteArray WebAPI::authorisation()
{
    m_lastRequestToken = token();
    return "Bearer " + m_lastRequestToken.toUtf8();
}

void WebAPI::resetOutcome()
{
    m_lastError.clear();
    m_failure = Failure::None;
    m_httpStatus = 0;
    m_retryAfterMs = 0;
}

bool WebAPI::abortWanted(Abortable abortable) const
{
    if (m_abortAll)
        return true;
    return abortable == Abortable::Yes && (m_abortRequested || (m_cancelFlag && *m_cancelFlag));
}

void WebAPI::failWith(Failure failure, const QString& text)
{
    m_failure = failure;
    m_lastError = text;
}

// Runs the request with the shared limits and sorts its end: what failed
// decides whether trying again later may help.
bool WebAPI::perform(CurlRequest& request, Abortable abortable)
{
    request.stallTimeoutMs = stallTimeout();
    request.caCertificatesPem = caCertificatesPem();
    request.abortWanted = [this, abortable] { return abortWanted(abortable); };
    CurlRequest::End end = request.run();
    // An error answer that arrived while the body still went out counts as
    // that answer, even when the server then closed the connection.
    if (end == CurlRequest::End::NetworkFailed && request.status() >= 400)
        end = CurlRequest::End::Answered;
    m_httpStatus = request.status();
    m_retryAfterMs = webreplies::retryAfterMs(request.header("Retry-After"), QDateTime::currentDateTimeUtc());
    const QString status = m_httpStatus > 0 ? QString::number(m_httpStatus) : QString();
    using End = CurlRequest::End;
    switch (end) {
    case End::Answered:
        if (m_httpStatus >= 200 && m_httpStatus < 300)
            return true;
        failWith(m_httpStatus >= 500 || m_httpStatus == 429 ? Failure::Busy : Failure::Refused,
                 status + QStringLiteral(" - Error transferring %1 - server replied: %2")
                              .arg(request.url().toString(), QString::fromLatin1(request.reason())));
        return false;
    case End::BodyTooLarge:
        failWith(Failure::Unreadable, status + QStringLiteral(" - Answer too large (more than %1)")
                                                   .arg(sizeText(request.maxBodyBytes)));
        return false;
    case End::HeadersTooLarge:
        failWith(Failure::Unreadable, status + QStringLiteral(" - Answer headers too large (more than %1 KiB)")
                                                   .arg(CurlRequest::kMaxHeaderBytes / 1024));
        return false;
    case End::Stalled:
        failWith(Failure::Network, status + QStringLiteral(" - Request timed out (no data for %1 ms)").arg(stallTimeout()));
        return false;
    case End::TimedOut:
        failWith(Failure::Network, status + QStringLiteral(" - Request timed out (no answer within %1 s)")
                                                .arg(request.totalTimeoutMs / 1000));
        return false;
    case End::TooSlow:
        failWith(Failure::Network, status + QStringLiteral(" - Transfer too slow (under 1 KiB a second for a minute)"));
        return false;
    case End::Aborted:
        failWith(Failure::Aborted, status + QStringLiteral(" - Operation canceled"));
        return false;
    case End::ProxyCredentials:
        failWith(Failure::Refused, QStringLiteral("407 - ") + request.errorText());
        return false;
    case End::SinkFailed:
        failWith(Failure::Local, QStringLiteral("Cannot open file for writing"));
        return false;
    case End::SourceFailed:
        failWith(Failure::Local, request.errorText());
        return false;
    case End::NetworkFailed:
        break;
    }
    failWith(Failure::Network, status + QStringLiteral(" - ") + request.errorText());
    return false;
}

QUrl WebAPI::redirectTarget(const CurlRequest& request, const QUrl& url)
{
    const QUrl target = url.resolved(QUrl(QString::fromUtf8(request.header("Location"))));
    if (sameOrigin(url, target))
        return target;
    const QString shown = shownUrl(target);
    qWarning().noquote() << "Redirect to another origin refused:" << shown;
    m_httpStatus = request.status();
    failWith(Failure::Redirect,
             QString::number(request.status()) + QStringLiteral(" - Redirect to another host refused: ") + shown);
    return {};
}

QUrl WebAPI::urlFor(const QByteArray& path) const
{
    QByteArray base = m_baseUrl;
    while (base.endsWith('/'))
        base.chop(1);
    return QUrl(QString::fromUtf8(base + path));
}

bool WebAPI::fetchObject(const Call& call, QJsonObject& object)
{
    resetOutcome();
    QUrl url = urlFor(call.path);
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        CurlRequest request(url);
        request.headers = {"Content-Type: application/json"};
        if (call.authorised)
            request.headers.append("Authorization: " + authorisation());
        if (call.post)
            request.setBody(call.jsonBody);
        request.maxBodyBytes = call.maxBytes;
        request.totalTimeoutMs = call.login ? loginDeadlineMs : requestDeadlineMs;
        const bool answered = perform(request, call.abortable);
        if (!answered && isRedirect(m_httpStatus) && !request.header("Location").isEmpty()) {
            url = redirectTarget(request, url);
            if (url.isEmpty())
                return false;
            continue;
        }
        return answered && parseObject(request.body(), object);
    }
    failWith(Failure::Unreadable, QStringLiteral("Too many redirects"));
    return false;
}

bool WebAPI::parseObject(const QByteArray& body, QJsonObject& object)
{
    if (!webreplies::objectOf(body, object)) {
        failWith(Failure::Unreadable, QStringLiteral("Error parsing response"));
        return false;
    }
    return true;
}

bool WebAPI::login(const QString& email, const QString& password)
{
    qDebug() << "WebAPI::login" << email << "***";
    m_user = email;
    m_password = password;
    if (email.isEmpty() || password.isEmpty()) {
        failWith(Failure::Refused, QStringLiteral("400 - No username/password"));
        return false;
    }
    Call call;
    call.path = "/Login";
    call.authorised = false;
    call.abortable = Abortable::Yes;
    call.login = true;
    call.post = true;
    call.jsonBody = QJsonDocument(QJsonObject{{"email", email}, {"password", password}}).toJson(QJsonDocument::Indented);
    QJsonObject object;
    if (!fetchObject(call, object))
        return false;
    const QString newToken = webreplies::loginToken(object);
    if (newToken.isEmpty()) {
        failWith(Failure::Unreadable, QStringLiteral("Token not found in response"));
        return false;
    }
    setToken(newToken);
    qDebug().noquote() << "Token set: " + maskedToken(newToken);
    return true;
}

bool WebAPI::getPresets()
{
    Call call;
    call.path = "/AudioPresets";
    call.maxBytes = kMaxPresetsBytes;
    QJsonObject object;
    if (!fetchObject(call, object))
        return false;
    if (!webreplies::presetEntries(object, m_presets)) {
        failWith(Failure::Unreadable, QStringLiteral("Presets not found in response"));
        return false;
    }
    return true;
}

int WebAPI::submitJob(const QString& filePath, int presetId, bool acceptAnyway)
{
    resetOutcome();
    m_uploadAnswerLost = false;
    const QString extension = fileExtension(filePath);
    const QByteArray contentType = contentTypeFor(extension);
    if (contentType.isEmpty()) {
        qWarning() << "Unsupported file type:" << extension;
        failWith(Failure::Local, QStringLiteral("Unsupported file type: ") + extension);
        return -1;
    }
    SingleReadFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qWarning() << "Cannot open file:" << file.errorString();
        failWith(Failure::Local, QStringLiteral("Cannot open file: ") + file.errorString());
        return -1;
    }

    m_abortRequested = false;
    m_uploadedBytes = 0;
    m_downloadedBytes = 0;
    m_uploadTotalBytes = -1;
    m_sinceUploadLog.invalidate();
    const UploadForm form(QFileInfo(filePath).fileName(), contentType, file.size(), presetId, acceptAnyway);
    FormBody body(form, file);
    const QUrl url = urlFor("/Jobs");
    CurlRequest request(url);
    request.headers = {"Authorization: " + authorisation(), "Content-Type: " + form.contentType(), "MIME-Version: 1.0"};
    request.setBodySource(form.length(), [&body, &request](char* buffer, qint64 size) {
        const qint64 copied = body.read(buffer, size);
        if (copied < 0)
            request.failSource(body.errorText());
        return copied;
    });
    request.lowSpeedCut = true;
    request.onProgress = [this, &form](qint64 sent, qint64) { reportUploaded(sent, form.length()); };
    const bool answered = perform(request, Abortable::Yes);
    if (!answered && isRedirect(m_httpStatus)) {
        // Not followed: the body has been read once, and sending it again
        // could create a second job.
        const QUrl target = url.resolved(QUrl(QString::fromUtf8(request.header("Location"))));
        if (!redirectTarget(request, url).isEmpty())
            failWith(Failure::Refused, QString::number(m_httpStatus)
                         + QStringLiteral(" - Redirect of the upload not followed: ") + shownUrl(target));
    }
    if (!answered) {
        // Sent, but no answer: the job may exist.
        m_uploadAnswerLost = m_failure == Failure::Network && request.sentBytes() > 0;
        qDebug().noquote() << "Error" << m_lastError;
        return -1;
    }

    QJsonObject object;
    if (!parseObject(request.body(), object))
        return -1;
    int id = 0;
    if (!webreplies::idOf(object.value("id"), id)) {
        failWith(Failure::Unreadable, QStringLiteral("ID not found in response"));
        return -1;
    }
    m_lastJobId = id;
    return m_lastJobId;
}

void WebAPI::reportUploaded(qint64 sent, qint64 total)
{
    m_uploadedBytes = sent;
    m_uploadTotalBytes = total;
    // At most about ten lines a second, and the last one.
    if (sent == total || !m_sinceUploadLog.isValid() || m_sinceUploadLog.elapsed() >= 100) {
        m_sinceUploadLog.start();
        qDebug() << "Uploaded:" << sent << "of" << total;
    }
}

QJsonObject WebAPI::getJob(int jobId)
{
    Call call;
    call.path = "/Jobs/" + QByteArray::number(jobId);
    QJsonObject object;
    if (!fetchObject(call, object)) {
        qDebug().noquote() << "Error" << m_lastError;
        return {};
    }
    if (object.isEmpty())
        failWith(Failure::Unreadable, QStringLiteral("Empty job object"));
    return object;
}

QString WebAPI::downloadResult(int jobId, const QString& targetPath, qint64 maxBytes)
{
    resetOutcome();
    m_abortRequested = false;
    m_downloadedBytes = 0;
    m_downloadTotalBytes = -1;
    QFile partFile(partFileNameFor(targetPath));
    const qint64 room = diskRoomFor(QFileInfo(targetPath).absolutePath());
    const qint64 bound = maxBytes > 0 ? qMin(maxBytes, room) : room;
    QUrl url = urlFor("/Jobs/" + QByteArray::number(jobId) + "/Result");
    std::unique_ptr<CurlRequest> request;
    bool answered = false;
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        request = std::make_unique<CurlRequest>(url);
        request->headers = {"Authorization: " + authorisation()};
        request->maxBodyBytes = bound;
        request->lowSpeedCut = true;
        request->bodySink = [&partFile](const char* data, qint64 size) {
            const bool ready = partFile.isOpen() || partFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
            return ready && partFile.write(data, size) == size;
        };
        request->onProgress = [this, current = request.get()](qint64, qint64 received) {
            m_downloadedBytes = received;
            m_downloadTotalBytes = current->expectedBodyBytes();
        };
        answered = perform(*request, Abortable::Yes);
        if (answered || !isRedirect(m_httpStatus) || request->header("Location").isEmpty())
            break;
        url = redirectTarget(*request, url);
        if (url.isEmpty())
            break;
    }

    QString written;
    if (!answered && request->bodyBytes() > bound) {
        const bool diskBound = maxBytes <= 0 || room < maxBytes;
        failWith(Failure::Unreadable,
                 diskBound ? QStringLiteral("Not enough free disk space for the result (%1 must stay free)")
                                 .arg(sizeText(kMinFreeDiskBytes))
                           : QStringLiteral("%1 - Result too large (more than %2 for the uploaded audio)")
                                 .arg(m_httpStatus)
                                 .arg(sizeText(bound)));
    }
    if (answered && isWholeAudio(*request, partFile))
        written = finishDownload(partFile, targetPath);
    if (written.isEmpty()) {
        qDebug().noquote() << "Error" << m_lastError;
        partFile.close();
        if (partFile.exists())
            partFile.remove();
    }
    return written;
}

bool WebAPI::isWholeAudio(const CurlRequest& request, QFile& partFile)
{
    // The bytes decide: a whole WAV file is taken whatever type it was sent
    // as (octet-stream, none), and the type only names what came instead.
    const QByteArray type = request.header("Content-Type").trimmed().toLower();
    QString why;
    if (!partFile.isOpen())
        why = QStringLiteral("the answer is empty");
    else if (!partFile.flush() || !wavcheck::isWhole(partFile.fileName(), why))
        why = type.startsWith("audio/") ? QStringLiteral("the WAV file is not whole: ") + why
                                        : QStringLiteral("the answer is not audio (")
                + QString::fromLatin1(type.isEmpty() ? "no type" : type) + u')';
    if (why.isEmpty())
        return true;
    failWith(Failure::Unreadable, QString::number(m_httpStatus) + QStringLiteral(" - Unusable result, ") + why);
    return false;
}

// Closes the completed temporary file and gives it its final name: the
// target itself, or a free name next to it when the target exists.
QString WebAPI::finishDownload(QFile& partFile, const QString& targetPath)
{
    const bool flushed = partFile.flush();
    partFile.close();
    if (!flushed) {
        failWith(Failure::Local, QStringLiteral("Cannot open file for writing"));
        return {};
    }

    QString finalPath = targetPath;
    const bool exists = QFileInfo::exists(targetPath);
    if (exists && !overwriteResult) {
        finalPath = uniqueResultName ? naming::uniqueFileName(targetPath, false) : QString();
        if (finalPath.isEmpty()) {
            failWith(Failure::Local, QStringLiteral("File already exists"));
            return {};
        }
    }
    if ((exists && overwriteResult && !QFile::remove(targetPath)) || !partFile.rename(finalPath)) {
        failWith(Failure::Local, QStringLiteral("Cannot open file for writing"));
        return {};
    }
    return QDir::toNativeSeparators(finalPath);
}
