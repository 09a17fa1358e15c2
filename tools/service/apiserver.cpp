#include "apiserver.h"

#include "apiroutes.h"
#include "chaos.h"
#include "bodyguard.h"
#include "guardedtcpserver.h"
#include "hostileanswer.h"
#include "resultstream.h"
#include "serviceoptions.h"

#include <QDebug>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

using StatusCode = QHttpServerResponder::StatusCode;

constexpr int kHandlerThreads = 4;

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

bool ApiServer::Exchange::clientGone() const
{
    return !socket || socket->state() != QAbstractSocket::ConnectedState;
}

ApiServer::ApiServer(const ServiceOptions& options, ApiRoutes& routes, Chaos& chaos, QObject* parent)
    : QAbstractHttpServer(parent), options_(options), routes_(routes), chaos_(chaos)
{
    handlers_.setMaxThreadCount(kHandlerThreads);
}

ApiServer::~ApiServer()
{
    handlers_.waitForDone();
}

quint16 ApiServer::listenOn(const QHostAddress& address, quint16 port, bool tls)
{
    if (tls)
        return listen(address, port);
    auto* server = new GuardedTcpServer(options_.maxBodyBytes, this);
    if (!server->listen(address, port)) {
        delete server;
        return 0;
    }
    bind(server);
    return server->serverPort();
}

bool ApiServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString fullPath = request.url().path();
    if (fullPath != QLatin1String("/api") && !fullPath.startsWith(QLatin1String("/api/")))
        return false;
    if (BodyGuard* guard = BodyGuard::of(socket))
        guard->requestDone();
    auto exchange = std::make_shared<Exchange>();
    exchange->clock.start();
    exchange->fullPath = fullPath.toUtf8();
    exchange->request.method = methodName(request.method());
    exchange->request.path = fullPath.mid(4);
    exchange->request.headers = request.headers();
    exchange->request.body = request.body();
    exchange->responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
    exchange->socket = socket;

    if (exchange->request.body.size() > options_.maxBodyBytes) {
        send(exchange, ApiReply::error(413, "Request body too large"));
        return true;
    }
    exchange->request.fault = chaos_.draw(exchange->request.path);
    int stallMs = options_.stallSecondsFor(exchange->request.path) * 1000;
    if (exchange->request.fault == Chaos::Fault::Stall)
        stallMs = chaos_.stallMs();
    if (stallMs <= 0) {
        answer(exchange);
        return true;
    }
    // Logged on arrival, so that a client can tell its request is held.
    log(*exchange, "stalled for " + QString::number(stallMs) + " ms");
    QTimer::singleShot(stallMs, this, [this, exchange] { answer(exchange); });
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

void ApiServer::answer(const ExchangePtr& exchange)
{
    if (exchange->clientGone()) {
        log(*exchange, "client gone before the answer");
        return;
    }
    if (answerHostile(*exchange))
        return;
    handlers_.start([this, exchange] {
        const ApiReply reply = routes_.handle(exchange->request);
        QMetaObject::invokeMethod(this, [this, exchange, reply] { send(exchange, reply); }, Qt::QueuedConnection);
    });
}

void ApiServer::send(const ExchangePtr& exchange, const ApiReply& reply)
{
    if (exchange->clientGone()) {
        log(*exchange, "client gone before the answer");
        return;
    }
    switch (reply.kind) {
    case ApiReply::Kind::Json:
        sendJson(*exchange, reply);
        break;
    case ApiReply::Kind::File:
        sendFile(*exchange, reply);
        break;
    case ApiReply::Kind::Drop:
        exchange->socket->disconnectFromHost();
        log(*exchange, "connection closed without an answer");
        break;
    }
}

bool ApiServer::answerHostile(Exchange& exchange)
{
    const QString& path = exchange.request.path;
    const auto matches = [&path](const QList<QRegularExpression>& patterns) {
        return std::any_of(patterns.begin(), patterns.end(), [&path](const auto& p) { return p.match(path).hasMatch(); });
    };
    const QByteArray type = path.endsWith(QLatin1String("/Result")) ? "audio/wav" : "application/json";
    HostileAnswer::Kind kind = HostileAnswer::Kind::Endless;
    if (matches(options_.endlessHeaders))
        kind = HostileAnswer::Kind::EndlessHeaders;
    else if (!matches(options_.endless))
        return false;
    (new HostileAnswer(exchange.socket, kind, type))->start();
    log(exchange, kind == HostileAnswer::Kind::Endless ? "200 (endless chunks)" : "200 (endless header lines)");
    return true;
}

void ApiServer::sendJson(Exchange& exchange, const ApiReply& reply)
{
    // The unusual form is what a framework with compression on sends: a
    // byte-order mark and indented JSON, deflated.
    const bool unusual = options_.unusualAnswers;
    QByteArray body = unusual ? "\xEF\xBB\xBF" + QJsonDocument(reply.json).toJson(QJsonDocument::Indented)
                              : QJsonDocument(reply.json).toJson(QJsonDocument::Compact);
    const bool malformed = options_.malformedJsonFor(exchange.request.path);
    if (malformed)
        body.truncate(body.size() / 2);
    const QByteArray type = unusual ? "application/json; charset=utf-8" : "application/json";
    if (unusual)
        body = qCompress(body).mid(4);
    if (const int dripMs = options_.dripMsFor(exchange.request.path)) {
        QByteArray raw = "HTTP/1.1 " + QByteArray::number(reply.status) + " Drip\r\nContent-Type: " + type + "\r\n";
        if (unusual)
            raw += "Content-Encoding: deflate\r\n";
        for (const auto& header : reply.headers)
            raw += header.first + ": " + header.second + "\r\n";
        raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        (new HostileAnswer(exchange.socket, HostileAnswer::Kind::Drip, {}, raw, dripMs))->start();
        log(exchange, QString::number(reply.status) + " (one byte every " + QString::number(dripMs) + " ms)");
        return;
    }
    QHttpServerResponder& responder = *exchange.responder;
    responder.writeStatusLine(StatusCode(reply.status));
    responder.writeHeader("Content-Type", type);
    if (unusual)
        responder.writeHeader("Content-Encoding", "deflate");
    for (const auto& header : reply.headers)
        responder.writeHeader(header.first, header.second);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeBody(body);
    log(exchange, QString::number(reply.status) + (malformed ? " (cut-off JSON)" : ""));
}

void ApiServer::sendFile(Exchange& exchange, const ApiReply& reply)
{
    auto file = std::make_unique<QFile>(reply.filePath);
    if (!file->open(QIODevice::ReadOnly)) {
        sendJson(exchange, ApiReply::error(500, "Cannot read the result"));
        return;
    }
    const qint64 size = file->size();
    QHttpServerResponder& responder = *exchange.responder;
    responder.writeStatusLine(StatusCode::Ok);
    responder.writeHeader("Content-Type", options_.unusualAnswers ? "application/octet-stream" : "audio/wav");
    responder.writeHeader("Content-Length", QByteArray::number(size));
    responder.writeHeader("Content-Disposition", attachmentHeader(reply.downloadName));
    exchange.socket->write("\r\n");
    qint64 limit = exchange.request.fault == Chaos::Fault::CutResult ? size / 2 : options_.dropResultAfter;
    if (reply.cutAfter >= 0)
        limit = reply.cutAfter;
    (new ResultStream(file.release(), exchange.socket, limit))->start();
    const bool cut = limit >= 0 && limit < size;
    log(exchange, "200 (" + QString::number(size) + " bytes" + (cut ? ", cut after " + QString::number(limit) : "") + ")");
}

void ApiServer::log(const Exchange& exchange, const QString& outcome) const
{
    const Chaos::Fault fault = exchange.request.fault;
    const QString chaos = fault == Chaos::Fault::None ? QString() : QStringLiteral(" [chaos: %1]").arg(Chaos::name(fault));
    qInfo().noquote() << exchange.request.method << exchange.fullPath << "->" << outcome << "|"
                      << exchange.request.body.size() << "bytes in," << exchange.clock.elapsed() << "ms" + chaos;
}
