#pragma once

#include "apirequest.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QThreadPool>
#include <memory>

class ApiRoutes;
class Chaos;
class QHttpServerResponder;
struct ServiceOptions;

// The HTTP side of the service: takes each request below /api, applies the
// body limit, draws its chaos fault and applies the stall faults, and hands it to the endpoints on a handler
// thread (an upload is stored and checked there, so the HTTP thread never
// waits for the disk). The reply comes back to the HTTP thread, which writes
// it: JSON, a file streamed from disk, or a dropped connection. Logs one
// line per request on standard error.
class ApiServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    ApiServer(const ServiceOptions& options, ApiRoutes& routes, Chaos& chaos, QObject* parent = nullptr);
    ~ApiServer() override;

    // Listens on plain HTTP with the early body-size guard, or on HTTPS when
    // TLS was set up. Returns the port, 0 on failure.
    quint16 listenOn(const QHostAddress& address, quint16 port, bool tls);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Exchange {
        ApiRequest request;
        QByteArray fullPath;
        QElapsedTimer clock;
        std::unique_ptr<QHttpServerResponder> responder;
        QPointer<QTcpSocket> socket;

        bool clientGone() const;
    };
    using ExchangePtr = std::shared_ptr<Exchange>;

    void answer(const ExchangePtr& exchange);
    void send(const ExchangePtr& exchange, const ApiReply& reply);
    // The endless answers of the fault modes; false when none applies.
    bool answerHostile(Exchange& exchange);
    void sendJson(Exchange& exchange, const ApiReply& reply);
    void sendFile(Exchange& exchange, const ApiReply& reply);
    void log(const Exchange& exchange, const QString& outcome) const;

    const ServiceOptions& options_;
    ApiRoutes& routes_;
    Chaos& chaos_;
    QThreadPool handlers_;
};
