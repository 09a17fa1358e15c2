#include "cannedhttpserver.h"

#include <QTcpSocket>

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
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
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
    m_replies.insert(path, Reply{status, body, contentType, false, false, extraHeaders});
}

void CannedHttpServer::setSilent(const QByteArray& path)
{
    m_replies.insert(path, Reply{0, {}, {}, true, false, {}});
}

void CannedHttpServer::setDropped(const QByteArray& path)
{
    m_replies.insert(path, Reply{0, {}, {}, false, true, {}});
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
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (Request request; takeRequest(buffer, request); request = Request()) {
        m_requests.append(request);
        const QByteArray path = request.path.mid(int(qstrlen("/api")));
        const Reply reply = m_replies.value(path);
        if (reply.silent)
            continue;
        if (reply.dropped) {
            socket->disconnectFromHost();
            return;
        }
        QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
        response += "Content-Type: " + reply.contentType + "\r\n" + reply.extraHeaders;
        response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        response += "Connection: keep-alive\r\n\r\n" + reply.body;
        socket->write(response);
    }
}
