#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTcpServer>

class QTcpSocket;

// A tiny HTTP/1.1 server on 127.0.0.1 that records every request byte for
// byte and answers each path with a reply set by the test. It serves on the
// thread that created it, so a synchronous WebAPI call on the same thread
// (which keeps the thread's events going) reaches it. Used for answers the
// reference service never gives (odd JSON shapes) and to check the exact
// bytes the client sends.
class CannedHttpServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray& name) const;
        bool hasHeader(const QByteArray& name) const;
    };

    CannedHttpServer();

    // "http://127.0.0.1:PORT/api"
    QByteArray apiUrl() const;
    // Answer requests to `path` (below /api) with this status and body.
    // extraHeaders: whole header lines, each ending in "\r\n".
    void setReply(const QByteArray& path, int status, const QByteArray& body,
                  const QByteArray& contentType = "application/json", const QByteArray& extraHeaders = {});
    // Requests to `path` are read but never answered.
    void setSilent(const QByteArray& path);
    // Requests to `path` are read whole, then the connection is closed
    // without an answer.
    void setDropped(const QByteArray& path);
    // Requests to `path` are answered with these bytes as they are, written
    // in pieces 30 ms apart (so each arrives on its own); the connection is
    // closed after the last one when `close` is set.
    void setRawReply(const QByteArray& path, const QList<QByteArray>& pieces, bool close = false);
    // Requests to `path` are answered as soon as their header block is in,
    // before their body; nothing more is read (the sender's bytes wait in
    // the system's buffers), and the connection is closed 300 ms later.
    void setAnsweredEarly(const QByteArray& path, int status, const QByteArray& body);
    // While held, no connection is read: its sender's bytes wait in the
    // system's buffers (the socket takes at most 64 KB). Releasing reads on.
    void setHeld(bool held);

    QList<Request> requests() const { return m_requests; }

private:
    struct Reply {
        int status = 404;
        QByteArray body;
        QByteArray contentType;
        bool silent = false;
        bool dropped = false;
        QByteArray extraHeaders;
        QList<QByteArray> rawPieces;
        bool closeAfterRaw = false;
        bool early = false;
    };

    void onReadyRead(QTcpSocket* socket);
    bool takeRequest(QByteArray& buffer, Request& request);
    bool answerEarly(QTcpSocket* socket, const QByteArray& buffer);
    void writeRaw(QTcpSocket* socket, QList<QByteArray> pieces, bool close);
    static QByteArray response(const Reply& reply);

    QHash<QByteArray, Reply> m_replies;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QSet<QTcpSocket*> m_unread;
    QList<Request> m_requests;
    bool m_held = false;
    // Last, so that it and its sockets go first, while the maps they report
    // to on disconnection still exist.
    QTcpServer m_server;
};
