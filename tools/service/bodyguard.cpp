#include "bodyguard.h"

#include <QDebug>
#include <climits>
#include <QTcpSocket>

namespace {

// Room for the request line, headers and multipart framing around the body.
constexpr qint64 kHeaderAllowance = 64 * 1024;
// After refusing, the connection closes once the client has been quiet this long.
constexpr int kDrainIdleMs = 1000;

} // namespace

BodyGuard::BodyGuard(QTcpSocket* socket, qint64 limit)
    : QObject(socket), socket_(socket), limit_(limit > LLONG_MAX - kHeaderAllowance ? LLONG_MAX : limit + kHeaderAllowance)
{
    connect(socket_, &QTcpSocket::readyRead, this, &BodyGuard::onReadyRead);
    idle_.setSingleShot(true);
    idle_.setInterval(kDrainIdleMs);
    connect(&idle_, &QTimer::timeout, socket_, &QTcpSocket::disconnectFromHost);
}

BodyGuard* BodyGuard::of(QTcpSocket* socket)
{
    return socket->findChild<BodyGuard*>(QString(), Qt::FindDirectChildrenOnly);
}

void BodyGuard::onReadyRead()
{
    received_ += socket_->bytesAvailable();
    if (received_ > limit_)
        refuse();
}

void BodyGuard::refuse()
{
    // Take the connection away from the HTTP server and drop what it buffered.
    disconnect(socket_, &QTcpSocket::readyRead, nullptr, nullptr);
    if (socket_->isTransactionStarted())
        socket_->commitTransaction();
    const QByteArray body = "{\"error\":\"Request body too large\"}";
    socket_->write("HTTP/1.1 413 Request Entity Too Large\r\n"
                   "Content-Type: application/json\r\n"
                   "Connection: close\r\n"
                   "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    qInfo().noquote() << "request body above" << (limit_ - kHeaderAllowance) << "bytes -> 413 while receiving |"
                      << received_ << "bytes in";
    connect(socket_, &QTcpSocket::readyRead, this, &BodyGuard::drain);
    drain();
}

void BodyGuard::drain()
{
    socket_->skip(socket_->bytesAvailable());
    idle_.start();
}
