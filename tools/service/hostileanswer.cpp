#include "hostileanswer.h"

#include <QTcpSocket>

namespace {

constexpr int kChunkBytes = 4096;
// Refill the socket while less than this is waiting to go out.
constexpr qint64 kLowWaterBytes = 256 * 1024;

} // namespace

HostileAnswer::HostileAnswer(QTcpSocket* socket, Kind kind, const QByteArray& contentType, const QByteArray& answer,
                             int intervalMs)
    : QObject(socket), socket_(socket), kind_(kind), answer_(answer)
{
    if (kind == Kind::Endless)
        block_ = QByteArray::number(kChunkBytes, 16) + "\r\n" + QByteArray(kChunkBytes, 'x') + "\r\n";
    else if (kind == Kind::EndlessHeaders)
        block_ = "X-Filler: " + QByteArray(100, 'x') + "\r\n";
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &HostileAnswer::dripOne);
    if (kind == Kind::Endless)
        answer_ = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nTransfer-Encoding: chunked\r\n\r\n";
    else if (kind == Kind::EndlessHeaders)
        answer_ = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n";
}

void HostileAnswer::start()
{
    if (kind_ == Kind::Drip) {
        timer_.start();
        return;
    }
    socket_->write(answer_);
    connect(socket_, &QTcpSocket::bytesWritten, this, &HostileAnswer::pump);
    pump();
}

void HostileAnswer::pump()
{
    while (socket_->state() == QAbstractSocket::ConnectedState && socket_->bytesToWrite() < kLowWaterBytes)
        socket_->write(block_);
}

void HostileAnswer::dripOne()
{
    if (dripped_ >= answer_.size() || socket_->state() != QAbstractSocket::ConnectedState) {
        timer_.stop();
        return;
    }
    socket_->write(answer_.mid(dripped_++, 1));
}
