#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QString>

// A plain HTTP client of the service's REST interface for its tests, written
// against the interface alone so it checks the service independently of the
// client's own Web API code.
class ApiClient {
public:
    struct Reply {
        int status = 0;                      // 0 when no HTTP answer came
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray body;
        QByteArray contentType;
        QByteArray contentDisposition;
        QByteArray location;
        QByteArray retryAfter;
        qint64 contentLength = -1;

        QJsonObject json() const;
        bool isJsonObject() const;
    };

    explicit ApiClient(const QString& apiUrl);

    // GET with the headers the interface gives the request: Content-Type
    // application/json on all but a result, and the token when given.
    Reply get(const QString& path, const QString& token = {});
    // GET with exactly these headers.
    Reply getRaw(const QString& path, const QList<QPair<QByteArray, QByteArray>>& headers);
    Reply postJson(const QString& path, const QJsonObject& body, const QString& token = {});
    Reply postRaw(const QString& path, const QByteArray& contentType, const QByteArray& body, const QString& token = {});

    // POST /Jobs with the given parts; a part is left out when its value is null.
    Reply submit(const QString& token, const QByteArray& fileData, const QString& fileName, const QByteArray& presetId,
                 const QByteArray& acceptAnyway = "true");
    Reply submitFile(const QString& token, const QString& path, int presetId);

    // Logs in and returns the token, empty on failure.
    QString logIn(const QString& email, const QString& password);
    // Polls GET /Jobs/{id} until the status is final (8 or more); when the time
    // runs out first, the current test fails with the job's last status.
    QJsonObject waitForJob(const QString& token, int jobId, int timeoutMs = 30000);

private:
    Reply run(QNetworkReply* reply);
    QNetworkRequest request(const QString& path, const QString& token) const;

    QNetworkAccessManager manager_;
    QString apiUrl_;
};

// A multipart/form-data body built by hand, so tests control every byte.
QByteArray multipartBody(const QByteArray& boundary, const QList<QPair<QByteArray, QByteArray>>& headedParts);
