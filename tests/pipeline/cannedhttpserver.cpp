#include "cannedhttpserver.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qint64 kHeldReadBytes = 64 * 1024;
constexpr int kPieceGapMs = 30;
constexpr int kCloseAfterMs = 300;

} // namespace

QByteArray CannedHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

bool CannedHttpServer::Request::hasHeader(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

CannedHttpServer::CannedHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            if (m_held)
                socket->setReadBufferSize(kHeldReadBytes);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                m_unread.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

QByteArray CannedHttpServer::apiUrl() const
{
    return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()) + "/api";
}

void CannedHttpServer::setReply(const QByteArray& path, int status, const QByteArray& body,
                                const QByteArray& contentType, const QByteArray& extraHeaders)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.contentType = contentType;
    reply.extraHeaders = extraHeaders;
    m_replies.insert(path, reply);
}

void CannedHttpServer::setSilent(const QByteArray& path)
{
    Reply reply;
    reply.silent = true;
    m_replies.insert(path, reply);
}

void CannedHttpServer::setDropped(const QByteArray& path)
{
    Reply reply;
    reply.dropped = true;
    m_replies.insert(path, reply);
}

void CannedHttpServer::setRawReply(const QByteArray& path, const QList<QByteArray>& pieces, bool close)
{
    Reply reply;
    reply.rawPieces = pieces;
    reply.closeAfterRaw = close;
    m_replies.insert(path, reply);
}

void CannedHttpServer::setAnsweredEarly(const QByteArray& path, int status, const QByteArray& body)
{
    setReply(path, status, body);
    m_replies[path].early = true;
}

void CannedHttpServer::setHeld(bool held)
{
    m_held = held;
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
        socket->setReadBufferSize(held ? kHeldReadBytes : 0);
        if (!held)
            onReadyRead(socket);
    }
}

bool CannedHttpServer::takeRequest(QByteArray& buffer, Request& request)
{
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        const QByteArray name = lines[i].left(colon).trimmed();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + length)
        return false;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.remove(0, headerEnd + 4 + length);
    return true;
}

void CannedHttpServer::onReadyRead(QTcpSocket* socket)
{
    if (m_held || m_unread.contains(socket))
        return;
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    if (answerEarly(socket, buffer))
        return;
    for (Request request; takeRequest(buffer, request); request = Request()) {
        m_requests.append(request);
        const Reply reply = m_replies.value(request.path.mid(int(qstrlen("/api"))));
        if (reply.silent)
            continue;
        if (reply.dropped) {
            socket->disconnectFromHost();
            return;
        }
        if (!reply.rawPieces.isEmpty()) {
            writeRaw(socket, reply.rawPieces, reply.closeAfterRaw);
            continue;
        }
        socket->write(response(reply));
    }
}

QByteArray CannedHttpServer::response(const Reply& reply)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
    response += "Content-Type: " + reply.contentType + "\r\n" + reply.extraHeaders;
    response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    return response + "Connection: keep-alive\r\n\r\n" + reply.body;
}

// A request whose path is answered early is answered once its header block
// is in, whatever follows; the rest is never read.
bool CannedHttpServer::answerEarly(QTcpSocket* socket, const QByteArray& buffer)
{
    if (!buffer.contains("\r\n\r\n"))
        return false;
    const QByteArray path = buffer.left(buffer.indexOf("\r\n")).split(' ').value(1);
    const Reply reply = m_replies.value(path.mid(int(qstrlen("/api"))));
    if (!reply.early)
        return false;
    Request request;
    request.method = buffer.left(buffer.indexOf(' '));
    request.path = path;
    m_requests.append(request);
    socket->write(response(reply));
    socket->setReadBufferSize(kHeldReadBytes);
    m_unread.insert(socket);
    QTimer::singleShot(kCloseAfterMs, socket, [socket] { socket->disconnectFromHost(); });
    return true;
}

void CannedHttpServer::writeRaw(QTcpSocket* socket, QList<QByteArray> pieces, bool close)
{
    socket->write(pieces.takeFirst());
    socket->flush();
    if (pieces.isEmpty()) {
        if (close)
            socket->disconnectFromHost();
        return;
    }
    QTimer::singleShot(kPieceGapMs, socket, [this, socket, pieces, close] { writeRaw(socket, pieces, close); });
}
