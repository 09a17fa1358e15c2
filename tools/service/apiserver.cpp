#include "apiserver.h"

#include "apiroutes.h"
#include "resultstream.h"
#include "serviceoptions.h"

#include <QDebug>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace {

using StatusCode = QHttpServerResponder::StatusCode;

QByteArray methodName(QHttpServerRequest::Method method)
{
    const char* key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QByteArray(key).toUpper() : QByteArray("UNKNOWN");
}

// A Content-Disposition value that survives any file name: quotes and
// backslashes escaped, the exact name in filename*.
QByteArray attachmentHeader(const QString& name)
{
    QByteArray plain = name.toLatin1();
    plain.replace('\\', "\\\\").replace('"', "\\\"");
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + name.toUtf8().toPercentEncoding();
}

} // namespace

ApiServer::ApiServer(const ServiceOptions& options, ApiRoutes& routes, QObject* parent)
    : QAbstractHttpServer(parent), options_(options), routes_(routes)
{
}

bool ApiServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString fullPath = request.url().path();
    if (fullPath != QLatin1String("/api") && !fullPath.startsWith(QLatin1String("/api/")))
        return false;
    auto exchange = std::make_shared<Exchange>();
    exchange->clock.start();
    exchange->fullPath = fullPath.toUtf8();
    exchange->request.method = methodName(request.method());
    exchange->request.path = fullPath.mid(4);
    exchange->request.headers = request.headers();
    exchange->request.body = request.body();

    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    if (exchange->request.body.size() > options_.maxBodyBytes) {
        responder->write(QJsonDocument(QJsonObject{{"error", "Request body too large"}}), StatusCode::PayloadTooLarge);
        log(*exchange, "413");
        return true;
    }
    const int stallSeconds = options_.stallSecondsFor(exchange->request.path);
    if (stallSeconds <= 0) {
        answer(*exchange, *responder);
        return true;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(stallSeconds * 1000, this, [this, exchange, responder, guard] {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState) {
            log(*exchange, "client gone while stalled");
            return;
        }
        answer(*exchange, *responder);
    });
    return true;
}

void ApiServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    Exchange exchange;
    exchange.clock.start();
    exchange.fullPath = request.url().path().toUtf8();
    exchange.request.method = methodName(request.method());
    makeResponder(request, socket).write(QJsonDocument(QJsonObject{{"error", "Not found"}}), StatusCode::NotFound);
    log(exchange, "404");
}

void ApiServer::answer(const Exchange& exchange, QHttpServerResponder& responder)
{
    const ApiReply reply = routes_.handle(exchange.request);
    switch (reply.kind) {
    case ApiReply::Kind::Json:
        sendJson(exchange, responder, reply);
        break;
    case ApiReply::Kind::File:
        sendFile(exchange, responder, reply);
        break;
    case ApiReply::Kind::Drop:
        responder.socket()->disconnectFromHost();
        log(exchange, "connection closed without an answer");
        break;
    }
}

void ApiServer::sendJson(const Exchange& exchange, QHttpServerResponder& responder, const ApiReply& reply)
{
    QByteArray body = QJsonDocument(reply.json).toJson(QJsonDocument::Compact);
    const bool malformed = options_.malformedJsonFor(exchange.request.path);
    if (malformed)
        body.truncate(body.size() / 2);
    responder.write(body, {{"Content-Type", "application/json"}}, StatusCode(reply.status));
    log(exchange, QString::number(reply.status) + (malformed ? " (cut-off JSON)" : ""));
}

void ApiServer::sendFile(const Exchange& exchange, QHttpServerResponder& responder, const ApiReply& reply)
{
    auto file = std::make_unique<QFile>(reply.filePath);
    if (!file->open(QIODevice::ReadOnly)) {
        sendJson(exchange, responder, ApiReply::error(500, "Cannot read the result"));
        return;
    }
    responder.writeStatusLine(StatusCode::Ok);
    responder.writeHeader("Content-Type", "audio/wav");
    responder.writeHeader("Content-Length", QByteArray::number(file->size()));
    responder.writeHeader("Content-Disposition", attachmentHeader(reply.downloadName));
    QTcpSocket* socket = responder.socket();
    socket->write("\r\n");
    const qint64 size = file->size();
    const qint64 limit = options_.dropResultAfter;
    (new ResultStream(file.release(), socket, limit))->start();
    log(exchange, "200 (" + QString::number(size) + " bytes"
                      + (limit >= 0 && limit < size ? ", cut after " + QString::number(limit) : QString()) + ")");
}

void ApiServer::log(const Exchange& exchange, const QString& outcome) const
{
    qInfo().noquote() << exchange.request.method << exchange.fullPath << "->" << outcome << "|"
                      << exchange.request.body.size() << "bytes in," << exchange.clock.elapsed() << "ms";
}
