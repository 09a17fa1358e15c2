#pragma once

#include "apirequest.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>

class ApiRoutes;
class QHttpServerResponder;
struct ServiceOptions;

// The HTTP side of the service: takes each request below /api, applies the
// body limit and the stall fault, hands it to the endpoints and writes their
// reply (JSON, a streamed file, or a dropped connection). Logs one line per
// request on standard error.
class ApiServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    ApiServer(const ServiceOptions& options, ApiRoutes& routes, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Exchange {
        ApiRequest request;
        QByteArray fullPath;
        QElapsedTimer clock;
    };

    void answer(const Exchange& exchange, QHttpServerResponder& responder);
    void sendJson(const Exchange& exchange, QHttpServerResponder& responder, const ApiReply& reply);
    void sendFile(const Exchange& exchange, QHttpServerResponder& responder, const ApiReply& reply);
    void log(const Exchange& exchange, const QString& outcome) const;

    const ServiceOptions& options_;
    ApiRoutes& routes_;
};
