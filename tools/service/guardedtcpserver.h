#pragma once

#include <QTcpServer>

// A TCP server whose connections each carry a BodyGuard from the start.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedTcpServer(qint64 bodyLimit, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const qint64 bodyLimit_;
};
