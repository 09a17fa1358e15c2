#pragma once

#include "pipeline/httpanswer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QUrl>

#include <functional>

class QIODevice;
class QTcpSocket;

// Sends one HTTP/1.1 POST whose body is a head, the bytes of a file and a
// tail, on a socket of the calling thread (a QSslSocket with the given TLS
// configuration for https), and reads its answer into an HttpAnswer.
//
// The body goes from the file to the socket without passing another
// thread: the file is read once, in blocks of 256 KB, each written while
// less than 512 KB wait in the socket, so memory stays bounded for any file
// size. Nothing is ever sent twice. A file that turns out shorter or longer
// than announced ends the request before the body is whole, so the server
// never takes a body of another length than Content-Length says.
//
// An answer that starts with an error status while the body is still going
// out stops the sending (the server need not read the rest), and an answer
// that has come whole counts even when the connection breaks right after.
//
// It runs inside the caller's event loop: start() begins, the callbacks
// report, stop() ends it at once. The object must stay on its thread.
class StreamedUpload final : public QObject {
public:
    enum class End {
        // Still running.
        None,
        // An answer came: complete, too large or malformed (see answer()).
        Answered,
        // No usable answer: connection, TLS or protocol trouble.
        NetworkFailed,
        // The file could not be read, or its length changed.
        FileFailed,
        // Ended by stop().
        Stopped,
    };

    struct Request {
        QUrl url;
        // Header fields besides Host and Content-Length.
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray bodyHead;
        qint64 fileBytes = 0;
        QByteArray bodyTail;
        qint64 maxAnswerBytes = 0;
        QSslConfiguration tls;
    };

    StreamedUpload(Request request, QIODevice& file);
    Q_DISABLE_COPY_MOVE(StreamedUpload)

    // Bytes moved either way.
    std::function<void()> onMoved;
    // Bytes of the body that have left, of the body's length.
    std::function<void(qint64 sent, qint64 total)> onSent;
    // The request has ended; called once.
    std::function<void()> onEnd;

    void start();
    void stop();

    End end() const { return m_end; }
    // The network library's text of what failed, or the file's trouble.
    QString errorText() const { return m_errorText; }
    const HttpAnswer& answer() const { return m_answer; }
    qint64 bodyLength() const;
    qint64 bodyBytesSent() const { return m_bodySent; }

private:
    QByteArray requestHead() const;
    void connectSocket();
    void onConnected();
    void sendMore();
    bool writeFileBlock();
    void checkFileEnd();
    void onWritten();
    void onReadable();
    void onBroken();
    bool answerStopsBody() const;
    qint64 queuedBytes() const;
    void finish(End end, const QString& errorText = {});

    Request m_request;
    QIODevice& m_file;
    QTcpSocket* m_socket = nullptr;
    HttpAnswer m_answer;
    QByteArray m_block;
    qint64 m_headBytes = 0;
    qint64 m_written = 0;
    qint64 m_fileLeft = 0;
    bool m_tailWritten = false;
    qint64 m_bodySent = 0;
    End m_end = End::None;
    QString m_errorText;
};
