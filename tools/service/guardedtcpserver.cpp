#include "guardedtcpserver.h"

#include "bodyguard.h"

#include <QTcpSocket>

GuardedTcpServer::GuardedTcpServer(qint64 bodyLimit, QObject* parent) : QTcpServer(parent), bodyLimit_(bodyLimit)
{
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    new BodyGuard(socket, bodyLimit_);
    addPendingConnection(socket);
}
