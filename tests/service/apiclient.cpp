#include "apiclient.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>
#include <QThread>

QJsonObject ApiClient::Reply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

bool ApiClient::Reply::isJsonObject() const
{
    return QJsonDocument::fromJson(body).isObject();
}

ApiClient::ApiClient(const QString& apiUrl) : apiUrl_(apiUrl)
{
}

QNetworkRequest ApiClient::request(const QString& path, const QString& token) const
{
    QNetworkRequest request(QUrl(apiUrl_ + path));
    // Redirects are the service's answer too; the tests look at them.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!token.isNull())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    return request;
}

ApiClient::Reply ApiClient::run(QNetworkReply* reply)
{
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.error = reply->error();
    out.body = reply->readAll();
    out.contentType = reply->rawHeader("Content-Type");
    out.contentDisposition = reply->rawHeader("Content-Disposition");
    out.location = reply->rawHeader("Location");
    out.retryAfter = reply->rawHeader("Retry-After");
    if (reply->hasRawHeader("Content-Length"))
        out.contentLength = reply->rawHeader("Content-Length").toLongLong();
    reply->deleteLater();
    return out;
}

ApiClient::Reply ApiClient::get(const QString& path, const QString& token)
{
    QNetworkRequest req = request(path, token);
    // The JSON requests name their type; a result request carries none.
    if (!path.endsWith(QLatin1String("/Result")))
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    return run(manager_.get(req));
}

ApiClient::Reply ApiClient::getRaw(const QString& path, const QList<QPair<QByteArray, QByteArray>>& headers)
{
    QNetworkRequest req = request(path, QString());
    for (const auto& [name, value] : headers)
        req.setRawHeader(name, value);
    return run(manager_.get(req));
}

ApiClient::Reply ApiClient::postJson(const QString& path, const QJsonObject& body, const QString& token)
{
    return postRaw(path, "application/json", QJsonDocument(body).toJson(), token);
}

ApiClient::Reply ApiClient::postRaw(const QString& path, const QByteArray& contentType, const QByteArray& body,
                                    const QString& token)
{
    QNetworkRequest req = request(path, token);
    req.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    return run(manager_.post(req, body));
}

QByteArray multipartBody(const QByteArray& boundary, const QList<QPair<QByteArray, QByteArray>>& headedParts)
{
    QByteArray body;
    for (const auto& part : headedParts)
        body += "--" + boundary + "\r\n" + part.first + "\r\n\r\n" + part.second + "\r\n";
    return body + "--" + boundary + "--\r\n";
}

ApiClient::Reply ApiClient::submit(const QString& token, const QByteArray& fileData, const QString& fileName,
                                   const QByteArray& presetId, const QByteArray& acceptAnyway)
{
    QList<QPair<QByteArray, QByteArray>> parts;
    if (!fileData.isNull())
        parts.append({"Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName.toUtf8()
                          + "\"\r\nContent-Type: audio/wav",
                      fileData});
    if (!presetId.isNull())
        parts.append({"Content-Disposition: form-data; name=\"presetId\"", presetId});
    if (!acceptAnyway.isNull())
        parts.append({"Content-Disposition: form-data; name=\"acceptAnyway\"", acceptAnyway});
    const QByteArray boundary = "sonviraTestBoundary7MA4YWxkTrZu0gW";
    return postRaw("/Jobs", "multipart/form-data; boundary=" + boundary, multipartBody(boundary, parts), token);
}

ApiClient::Reply ApiClient::submitFile(const QString& token, const QString& path, int presetId)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return submit(token, file.readAll(), QFileInfo(path).fileName(), QByteArray::number(presetId));
}

QString ApiClient::logIn(const QString& email, const QString& password)
{
    return postJson("/Login", QJsonObject{{"email", email}, {"password", password}}).json().value("token").toString();
}

QJsonObject ApiClient::waitForJob(const QString& token, int jobId, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QJsonObject job;
    while (!deadline.hasExpired()) {
        job = get("/Jobs/" + QString::number(jobId), token).json();
        if (job.value("status").toInt() >= 8)
            return job;
        QThread::msleep(20);
    }
    const QString message = QStringLiteral("job %1 did not end within %2 ms (last status %3)")
                                .arg(jobId)
                                .arg(timeoutMs)
                                .arg(job.value("status").toInt());
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    return job;
}
