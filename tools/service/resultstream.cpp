#include "resultstream.h"

#include <QTcpSocket>

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;
// Refill the socket while less than this is waiting to go out.
constexpr qint64 kLowWaterBytes = 1024 * 1024;

} // namespace

ResultStream::ResultStream(QFile* file, QTcpSocket* socket, qint64 limit)
    : QObject(socket),
      file_(file),
      socket_(socket),
      toSend_(limit >= 0 ? qMin(limit, file->size()) : file->size()),
      truncated_(limit >= 0 && limit < file->size())
{
    file_->setParent(this);
}

void ResultStream::start()
{
    connect(socket_, &QTcpSocket::bytesWritten, this, &ResultStream::pump);
    pump();
}

void ResultStream::pump()
{
    QByteArray chunk(int(kChunkBytes), Qt::Uninitialized);
    while (sent_ < toSend_ && socket_->bytesToWrite() < kLowWaterBytes) {
        const qint64 got = file_->read(chunk.data(), qMin(kChunkBytes, toSend_ - sent_));
        if (got <= 0) {
            socket_->abort();
            return;
        }
        socket_->write(chunk.constData(), got);
        sent_ += got;
    }
    if (sent_ < toSend_)
        return;
    disconnect(socket_, &QTcpSocket::bytesWritten, this, &ResultStream::pump);
    if (truncated_)
        socket_->disconnectFromHost();
    deleteLater();
}
