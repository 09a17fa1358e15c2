#pragma once

#include <QObject>
#include <QTimer>

class QTcpSocket;

// Watches the bytes a connection receives before the HTTP server buffers
// them, so that a request body far above the limit is refused with 413 as
// soon as its Content-Length says so, or while it is still arriving, instead
// of after it has been held in memory whole. The server then no longer reads
// the connection; the rest of the body is read and thrown away until the
// client stops sending, and the connection is closed. It also answers
// "Expect: 100-continue", which the HTTP server leaves unanswered, so such
// clients send their body at once. A child of its socket. The exact limit is
// checked again on the complete request; the count allows room for headers
// and form framing.
class BodyGuard : public QObject {
    Q_OBJECT
public:
    // Must be attached before the HTTP server connects to the socket, so
    // that it sees each arrival first.
    BodyGuard(QTcpSocket* socket, qint64 limit);

    static BodyGuard* of(QTcpSocket* socket);
    // A whole request has been taken; counting starts again.
    void requestDone()
    {
        received_ = 0;
        headerSeen_ = false;
    }

private:
    void onReadyRead();
    // Looks at the head of a new request for Content-Length and Expect.
    void inspectHeader();
    void refuse();
    void drain();

    QTcpSocket* socket_;
    const qint64 limit_;
    qint64 received_ = 0;
    bool headerSeen_ = false;
    bool refused_ = false;
    QTimer idle_;
};
