#include "pipeline/webapi.h"

#include "pipeline/lockedaccess.h"
#include "pipeline/requestloop.h"
#include "pipeline/singlereadfile.h"
#include "pipeline/streamedupload.h"
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
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>

#include <vector>

namespace {

// Bytes the network layer may hold for a download before we take them, so
// memory stays bounded when the disk is slower than the network.
constexpr qint64 kDownloadBufferBytes = 2 * 1024 * 1024;
// A download goes to disk in blocks of this size, read into one buffer that
// lives as long as the download: a fresh buffer for every arrival and writes
// of a megabyte or more each ran at a fraction of the disk's speed (the
// system finds pages for a large write much more slowly), small blocks cost
// a call each and nothing else.
constexpr qint64 kWriteBlockBytes = 64 * 1024;

QMutex tokenMutex;
QString sharedToken;

QMutex hostMutex;
QByteArray sharedHostUrl;

QMutex tlsMutex;
bool tlsReady = false;

// Built on first use: constructing a TLS configuration loads the TLS
// backend, which must not happen before the application object exists.
QSslConfiguration& sharedTls()
{
    static QSslConfiguration configuration;
    return configuration;
}

std::atomic<int> stallTimeoutMs{WebAPI::kDefaultStallTimeoutMs};

// Builds the shared TLS configuration once: the system's CA store with peer
// verification, TLS 1.2 or newer, every cipher the TLS library offers.
// Callers hold tlsMutex.
void ensureTlsConfiguration()
{
    if (tlsReady)
        return;
    if (!QSslSocket::supportsSsl()) {
        qWarning() << "SSL not supported!";
        return;
    }
    QSslConfiguration& configuration = sharedTls();
    configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(QSslConfiguration::supportedCiphers());
    tlsReady = true;
    qDebug() << "SSL config ready";
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

QString sizeText(qint64 bytes)
{
    return bytes % (1024 * 1024) == 0 ? QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024))
                                      : QStringLiteral("%1 bytes").arg(bytes);
}

bool isSuccessStatus(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() >= 200 && status.toInt() < 300;
}

} // namespace

WebAPI::WebAPI()
    : m_network(new QNetworkAccessManager(this))
{
    QMutexLocker lock(&tlsMutex);
    ensureTlsConfiguration();
}

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

void WebAPI::setStallTimeout(int milliseconds)
{
    stallTimeoutMs = milliseconds;
}

void WebAPI::addCaCertificates(const QList<QSslCertificate>& certificates)
{
    QMutexLocker lock(&tlsMutex);
    ensureTlsConfiguration();
    if (tlsReady)
        sharedTls().addCaCertificates(certificates);
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

QNetworkAccessManager* WebAPI::networkManager(std::unique_ptr<QNetworkAccessManager>& callLocal)
{
    if (QThread::currentThread() != thread()) {
        callLocal = std::make_unique<QNetworkAccessManager>();
        return callLocal.get();
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

QNetworkRequest WebAPI::buildRequest(const QByteArray& path, bool jsonContent, bool authorised, bool tls)
{
    QNetworkRequest request(QUrl(QString::fromUtf8(m_baseUrl + path)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (jsonContent)
        request.setRawHeader("Content-Type", "application/json");
    if (authorised)
        request.setRawHeader("Authorization", authorisation());
    if (tls)
        request.setSslConfiguration(tlsConfiguration());
    return request;
}

QByteArray WebAPI::authorisation()
{
    m_lastRequestToken = token();
    return "Bearer " + m_lastRequestToken.toUtf8();
}

QSslConfiguration WebAPI::tlsConfiguration()
{
    QMutexLocker lock(&tlsMutex);
    return tlsReady ? sharedTls() : QSslConfiguration::defaultConfiguration();
}

void WebAPI::waitForReply(QNetworkReply* reply, Abortable abortable, qint64 maxBytes)
{
    resetOutcome();
    RequestLoop loop(stallTimeout(), [this, abortable] { return abortWanted(abortable); },
                     [this, reply](RequestLoop::Stop stop) {
                         m_timedOut = stop == RequestLoop::Stop::Stalled;
                         reply->abort();
                     });
    const auto tooLarge = [this, reply](qint64 bytes) {
        if (m_tooLarge)
            return;
        m_tooLarge = true;
        reply->abort();
        qDebug() << "Answer refused: more than" << bytes << "bytes";
    };
    if (maxBytes > 0) {
        connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes, tooLarge] {
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (announced.isValid() && announced.toLongLong() > maxBytes)
                tooLarge(maxBytes);
        });
        connect(reply, &QNetworkReply::downloadProgress, reply, [maxBytes, tooLarge](qint64 received, qint64) {
            if (received > maxBytes)
                tooLarge(maxBytes);
        });
    }
    connect(reply, &QNetworkReply::redirected, reply, [this, reply](const QUrl& target) { checkRedirect(reply, target); });
    connect(reply, &QNetworkReply::finished, &loop, &RequestLoop::finish);
    connect(reply, &QNetworkReply::uploadProgress, &loop, &RequestLoop::progressed);
    connect(reply, &QNetworkReply::downloadProgress, &loop, &RequestLoop::progressed);
    connect(reply, &QNetworkReply::metaDataChanged, &loop, &RequestLoop::progressed);
    const bool ended = reply->isFinished() || loop.run();
    // The loop also ends early when the thread is told to quit.
    if (!ended || !reply->isFinished())
        reply->abort();
}

void WebAPI::resetOutcome()
{
    m_timedOut = false;
    m_tooLarge = false;
    m_refusedRedirect.clear();
    m_failure = Failure::None;
    m_httpStatus = 0;
    m_retryAfterMs = 0;
}

void WebAPI::checkRedirect(QNetworkReply* reply, const QUrl& target)
{
    if (sameOrigin(reply->request().url(), target)) {
        emit reply->redirectAllowed();
        return;
    }
    m_refusedRedirect = target.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
    qWarning().noquote() << "Redirect to another origin refused:" << m_refusedRedirect;
    reply->abort();
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

bool WebAPI::replySucceeded(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    RequestEnd end;
    end.status = status.isValid() ? status.toInt() : 0;
    end.retryAfter = reply->rawHeader("Retry-After");
    end.failed = reply->error() != QNetworkReply::NoError;
    end.canceled = reply->error() == QNetworkReply::OperationCanceledError;
    end.errorText = reply->errorString();
    return requestSucceeded(end);
}

// Sorts a finished request's failure: what failed decides whether trying
// again later may help.
bool WebAPI::requestSucceeded(const RequestEnd& end)
{
    m_httpStatus = end.status;
    m_retryAfterMs = webreplies::retryAfterMs(end.retryAfter, QDateTime::currentDateTimeUtc());
    if (!end.failed && m_refusedRedirect.isEmpty())
        return true;
    const QString statusText = m_httpStatus > 0 ? QString::number(m_httpStatus) : QString();
    if (!m_refusedRedirect.isEmpty()) {
        failWith(Failure::Redirect, statusText + QStringLiteral(" - Redirect to another host refused: ") + m_refusedRedirect);
    } else if (m_tooLarge) {
        failWith(Failure::Unreadable, statusText + QStringLiteral(" - Answer too large (more than %1)").arg(sizeText(m_maxBytes)));
    } else if (m_timedOut) {
        failWith(Failure::Network, statusText + QStringLiteral(" - Request timed out (no data for %1 ms)").arg(stallTimeout()));
    } else if (end.canceled) {
        failWith(Failure::Aborted, statusText + QStringLiteral(" - ") + end.errorText);
    } else if (m_httpStatus >= 500 || m_httpStatus == 429) {
        failWith(Failure::Busy, statusText + QStringLiteral(" - ") + end.errorText);
    } else if (m_httpStatus >= 300) {
        failWith(Failure::Refused, statusText + QStringLiteral(" - ") + end.errorText);
    } else {
        failWith(Failure::Network, statusText + QStringLiteral(" - ") + end.errorText);
    }
    return false;
}

void WebAPI::followDownload(QNetworkReply* reply)
{
    connect(reply, &QNetworkReply::downloadProgress, reply, [this, reply](qint64 done, qint64 total) {
        // The network layer reports (0, 0) once a transfer is over; the
        // count of the finished transfer stays.
        if (done == 0 && total == 0)
            return;
        m_downloadedBytes = done;
        qDebug() << "Downloaded:" << done << "of" << total;
        if (abortWanted(Abortable::Yes))
            reply->abort();
    });
}

bool WebAPI::parseObject(const QByteArray& body, QJsonObject& object)
{
    if (!webreplies::objectOf(body, object)) {
        failWith(Failure::Unreadable, QStringLiteral("Error parsing response"));
        return false;
    }
    return true;
}

bool WebAPI::awaitObject(QNetworkReply* reply, QJsonObject& object, Abortable abortable, qint64 maxBytes)
{
    m_maxBytes = maxBytes;
    waitForReply(reply, abortable, maxBytes);
    return replySucceeded(reply) && parseObject(reply->readAll(), object);
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

    const QJsonObject body{{"email", email}, {"password", password}};
    std::unique_ptr<QNetworkAccessManager> callLocal;
    QNetworkAccessManager* network = networkManager(callLocal);
    std::unique_ptr<QNetworkReply> reply(
        network->post(buildRequest("/Login", true, false, true), QJsonDocument(body).toJson(QJsonDocument::Indented)));
    QJsonObject object;
    if (!awaitObject(reply.get(), object, Abortable::Yes))
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
    std::unique_ptr<QNetworkAccessManager> callLocal;
    QNetworkAccessManager* network = networkManager(callLocal);
    std::unique_ptr<QNetworkReply> reply(network->get(buildRequest("/AudioPresets", true, true, true)));
    QJsonObject object;
    if (!awaitObject(reply.get(), object, Abortable::No, kMaxPresetsBytes))
        return false;
    if (!webreplies::presetEntries(object, m_presets)) {
        failWith(Failure::Unreadable, QStringLiteral("Presets not found in response"));
        return false;
    }
    return true;
}

int WebAPI::submitJob(const QString& filePath, int presetId, bool acceptAnyway)
{
    m_lastError.clear();
    m_failure = Failure::None;
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
    const UploadForm form(QFileInfo(filePath).fileName(), contentType, file.size(), presetId, acceptAnyway);
    QByteArray answerBody;
    if (!postForm(file, form, answerBody)) {
        qDebug().noquote() << "Error" << m_lastError;
        return -1;
    }

    QJsonObject object;
    if (!parseObject(answerBody, object))
        return -1;
    if (!object.contains("id")) {
        failWith(Failure::Unreadable, QStringLiteral("ID not found in response"));
        return -1;
    }
    m_lastJobId = object.value("id").toInt();
    return m_lastJobId;
}

bool WebAPI::postForm(QIODevice& file, const UploadForm& form, QByteArray& answerBody)
{
    StreamedUpload::Request request;
    request.url = QUrl(QString::fromUtf8(m_baseUrl + "/Jobs"));
    request.headers = {{"Authorization", authorisation()},
                       {"Content-Type", form.contentType()},
                       {"MIME-Version", "1.0"},
                       {"Connection", "close"},
                       {"User-Agent", "Mozilla/5.0"}};
    request.bodyHead = form.head();
    request.fileBytes = form.fileBytes();
    request.bodyTail = form.tail();
    request.maxAnswerBytes = kMaxJsonBytes;
    request.tls = tlsConfiguration();
    StreamedUpload upload(std::move(request), file);

    resetOutcome();
    m_maxBytes = kMaxJsonBytes;
    m_sinceUploadLog.invalidate();
    RequestLoop loop(stallTimeout(), [this] { return abortWanted(Abortable::Yes); },
                     [this, &upload](RequestLoop::Stop stop) {
                         m_timedOut = stop == RequestLoop::Stop::Stalled;
                         upload.stop();
                     });
    upload.onMoved = [&loop] { loop.progressed(); };
    upload.onEnd = [&loop] { loop.finish(); };
    upload.onSent = [this, &upload](qint64 sent, qint64 total) {
        reportUploaded(sent, total);
        if (abortWanted(Abortable::Yes))
            upload.stop();
    };
    upload.start();
    // The loop also ends early when the thread is told to quit.
    if (!loop.run())
        upload.stop();
    return uploadSucceeded(upload, answerBody);
}

void WebAPI::reportUploaded(qint64 sent, qint64 total)
{
    m_uploadedBytes = sent;
    // At most about ten lines a second, and the last one.
    if (sent == total || !m_sinceUploadLog.isValid() || m_sinceUploadLog.elapsed() >= 100) {
        m_sinceUploadLog.start();
        qDebug() << "Uploaded:" << sent << "of" << total;
    }
}

// Sorts the upload's end like any request's. A redirect is not followed:
// the body has been read once, and sending it again could create a second
// job.
bool WebAPI::uploadSucceeded(const StreamedUpload& upload, QByteArray& answerBody)
{
    if (upload.end() == StreamedUpload::End::FileFailed) {
        failWith(Failure::Local, upload.errorText());
        return false;
    }
    const HttpAnswer& answer = upload.answer();
    RequestEnd end;
    end.status = answer.hasHead() ? answer.status() : 0;
    end.retryAfter = answer.header("Retry-After");
    end.failed = true;
    const QUrl url(QString::fromUtf8(m_baseUrl + "/Jobs"));
    if (upload.end() == StreamedUpload::End::Stopped) {
        end.canceled = true;
        end.errorText = QStringLiteral("Operation canceled");
    } else if (upload.end() == StreamedUpload::End::NetworkFailed) {
        end.errorText = upload.errorText();
    } else if (answer.state() == HttpAnswer::State::TooLarge) {
        m_tooLarge = true;
    } else if (answer.state() == HttpAnswer::State::Malformed) {
        end.errorText = QStringLiteral("Unreadable answer: ") + answer.problem();
    } else if (end.status >= 300 && end.status < 400) {
        const QUrl target = url.resolved(QUrl(QString::fromUtf8(answer.header("Location"))));
        const QString shown = target.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
        if (!sameOrigin(url, target))
            m_refusedRedirect = shown;
        end.errorText = QStringLiteral("Redirect of the upload not followed: ") + shown;
    } else if (end.status >= 400) {
        end.errorText = QStringLiteral("Error transferring %1 - server replied: %2")
                            .arg(url.toString(), QString::fromLatin1(answer.reason()));
    } else {
        end.failed = false;
    }
    if (!requestSucceeded(end)) {
        // Sent, but no answer: the job may exist.
        m_uploadAnswerLost = m_failure == Failure::Network && m_uploadedBytes > 0;
        return false;
    }
    answerBody = answer.body();
    return true;
}

QJsonObject WebAPI::getJob(int jobId)
{
    std::unique_ptr<QNetworkAccessManager> callLocal;
    QNetworkAccessManager* network = networkManager(callLocal);
    std::unique_ptr<QNetworkReply> reply(
        network->get(buildRequest("/Jobs/" + QByteArray::number(jobId), true, true, true)));
    QJsonObject object;
    if (!awaitObject(reply.get(), object)) {
        qDebug().noquote() << "Error" << m_lastError;
        return {};
    }
    if (object.isEmpty())
        failWith(Failure::Unreadable, QStringLiteral("Empty job object"));
    return object;
}

QString WebAPI::downloadResult(int jobId, const QString& targetPath)
{
    std::unique_ptr<QNetworkAccessManager> callLocal;
    QNetworkAccessManager* network = networkManager(callLocal);
    QFile partFile(partFileNameFor(targetPath));
    bool writeFailed = false;
    qint64 received = 0;

    std::unique_ptr<QNetworkReply> reply(
        network->get(buildRequest("/Jobs/" + QByteArray::number(jobId) + "/Result", false, true, true)));
    reply->setReadBufferSize(kDownloadBufferBytes);
    m_failure = Failure::None;
    m_abortRequested = false;
    m_downloadedBytes = 0;
    followDownload(reply.get());
    QNetworkReply* replyPtr = reply.get();
    std::vector<char> block(static_cast<size_t>(kWriteBlockBytes));
    connect(replyPtr, &QIODevice::readyRead, replyPtr, [&] {
        // An error answer's body and what comes after a failed write are
        // taken and dropped, so the reply can finish.
        if (writeFailed || !isSuccessStatus(replyPtr)) {
            replyPtr->skip(replyPtr->bytesAvailable());
            return;
        }
        const bool ready = partFile.isOpen() || partFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
        qint64 count = 0;
        while (ready && (count = replyPtr->read(block.data(), kWriteBlockBytes)) > 0) {
            received += count;
            if (partFile.write(block.data(), count) != count)
                break;
        }
        if (!ready || count > 0) {
            writeFailed = true;
            replyPtr->abort();
        }
    });
    waitForReply(replyPtr, Abortable::Yes);

    QString written;
    if (writeFailed) {
        failWith(Failure::Local, QStringLiteral("Cannot open file for writing"));
    } else if (!replySucceeded(replyPtr) || !hasWholeBody(replyPtr, received) || !isWholeAudio(replyPtr, partFile)) {
        qDebug().noquote() << "Error" << m_lastError;
    } else {
        written = finishDownload(partFile, targetPath);
    }
    if (written.isEmpty() && partFile.exists())
        partFile.remove();
    return written;
}

// A connection closed part-way through a body of announced length can end
// the reply without an error; such a result is incomplete, never a success.
bool WebAPI::hasWholeBody(QNetworkReply* reply, qint64 received)
{
    // A compressed body is announced in its compressed length, which the
    // decompressed bytes received cannot be compared with.
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || announced.toLongLong() == received || !(encoding.isEmpty() || encoding == "identity"))
        return true;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    failWith(Failure::Unreadable, (status.isValid() ? QString::number(status.toInt()) : QString())
                 + QStringLiteral(" - Connection closed after %1 of %2 bytes").arg(received).arg(announced.toLongLong()));
    return false;
}

bool WebAPI::isWholeAudio(QNetworkReply* reply, QFile& partFile)
{
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray().trimmed().toLower();
    QString why;
    if (!type.startsWith("audio/"))
        why = QStringLiteral("the answer is not audio (") + QString::fromLatin1(type.isEmpty() ? "no type" : type) + u')';
    else if (!partFile.isOpen())
        why = QStringLiteral("the answer is empty");
    else if (!partFile.flush() || !wavcheck::isWhole(partFile.fileName(), why))
        why = QStringLiteral("the WAV file is not whole: ") + why;
    if (why.isEmpty())
        return true;
    failWith(Failure::Unreadable, QString::number(m_httpStatus) + QStringLiteral(" - Unusable result, ") + why);
    return false;
}

// Closes the completed temporary file and gives it its final name: the
// target itself, or a free name next to it when the target exists.
QString WebAPI::finishDownload(QFile& partFile, const QString& targetPath)
{
    const bool ready = partFile.isOpen() || partFile.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    const bool flushed = ready && partFile.flush();
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
