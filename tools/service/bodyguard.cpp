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
    if (!headerSeen_) {
        inspectHeader();
        if (refused_)
            return;
    }
    received_ += socket_->bytesAvailable();
    if (received_ > limit_)
        refuse();
}

void BodyGuard::inspectHeader()
{
    // The head normally arrives in one piece; when it does not, the server
    // still parses it and only the early answers below are skipped.
    headerSeen_ = true;
    const QByteArray head = socket_->peek(kHeaderAllowance);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    bool expectContinue = false;
    for (const QByteArray& line : head.left(end).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (colon <= 0)
            continue;
        if (name == "content-length" && value.toLongLong() > limit_ - kHeaderAllowance) {
            refuse();
            return;
        }
        if (name == "expect" && value.toLower() == "100-continue")
            expectContinue = true;
    }
    if (expectContinue)
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
}

void BodyGuard::refuse()
{
    refused_ = true;
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
