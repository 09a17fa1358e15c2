#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// The answers of a hostile server, written straight to the connection:
//  - Endless: a 200 answer with Transfer-Encoding: chunked whose 4 KiB
//    chunks never end;
//  - EndlessHeaders: a 200 status line followed by header lines that never end;
//  - Drip: a given whole answer, one byte every `intervalMs`.
// Each goes on until the client closes the connection. A child of the
// socket: it goes away with the connection.
class HostileAnswer : public QObject {
    Q_OBJECT
public:
    enum class Kind { Endless, EndlessHeaders, Drip };

    // contentType: of the endless body; answer: the bytes Drip sends.
    HostileAnswer(QTcpSocket* socket, Kind kind, const QByteArray& contentType, const QByteArray& answer = {},
                  int intervalMs = 0);

    void start();

private:
    void pump();
    void dripOne();

    QTcpSocket* socket_;
    Kind kind_;
    QByteArray block_;
    QByteArray answer_;
    qsizetype dripped_ = 0;
    QTimer timer_;
};
