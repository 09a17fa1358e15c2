#pragma once

#include <QFile>
#include <QObject>

class QTcpSocket;

// Sends a file as a response body, a chunk at a time as the socket drains,
// so memory stays bounded whatever the file's size. With a limit below the
// file size it stops after that many bytes and closes the connection, which
// the client sees as a connection lost part-way through. A child of the
// socket: it goes away with the connection, and deletes itself when done.
class ResultStream : public QObject {
    Q_OBJECT
public:
    // Takes over `file` (already open). `limit` < 0 sends the whole file.
    ResultStream(QFile* file, QTcpSocket* socket, qint64 limit);

    void start();

private:
    void pump();

    QFile* file_;
    QTcpSocket* socket_;
    qint64 toSend_;
    qint64 sent_ = 0;
    bool truncated_;
};
