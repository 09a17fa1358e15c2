#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

// Reads one HTTP/1.0 or HTTP/1.1 answer as its bytes arrive, in pieces of
// any size: the status line, the header fields (names without regard to
// case) and the body, framed by Content-Length, by the chunked transfer
// coding (its trailer fields are read and dropped) or by the end of the
// connection. Interim 1xx answers (a "100 Continue" nobody asked for) are
// skipped. It never holds more than it allows: a header block above
// kMaxHeadBytes or any malformed framing makes the answer Malformed, a body
// above the bound given makes it TooLarge (as soon as a Content-Length
// announces it), and either stops the reading.
class HttpAnswer final {
public:
    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;
    static constexpr int kMaxInterimAnswers = 8;

    enum class State { Head, Body, Complete, Malformed, TooLarge };

    explicit HttpAnswer(qint64 maxBodyBytes);

    // Takes the next bytes of the connection. Bytes after a complete answer
    // are ignored.
    void feed(QByteArrayView bytes);
    // The connection has ended: a body framed by the end of the connection
    // is complete now; any other answer that is not whole stays so.
    void endOfInput();

    State state() const { return m_state; }
    bool isComplete() const { return m_state == State::Complete; }
    // The status line of the final answer has been read (also when its
    // body is too large).
    bool hasHead() const { return m_headRead; }
    // Why the answer is Malformed.
    QString problem() const { return m_problem; }

    int status() const { return m_status; }
    QByteArray reason() const { return m_reason; }
    // The first value of a header field, without surrounding blanks; empty
    // when absent.
    QByteArray header(QByteArrayView name) const;
    QByteArray body() const { return m_body; }

private:
    enum class Framing { None, Length, Chunked, UntilClose };
    enum class ChunkStep { Size, Data, DataEnd, Trailer };

    bool takeLine(QByteArray& line);
    void readHead();
    void readStatusLine(const QByteArray& line);
    void readHeaderLine(const QByteArray& line);
    void endHead();
    void chooseFraming();
    bool contentLength(qint64& length) const;
    void readBody();
    void readChunked();
    void readChunkSize(const QByteArray& line);
    bool appendBody(QByteArrayView bytes);
    qsizetype available() const { return m_pending.size() - m_at; }
    void fail(const QString& problem);

    qint64 m_maxBodyBytes;
    State m_state = State::Head;
    QByteArray m_pending;
    // Where the unread bytes of m_pending start.
    qsizetype m_at = 0;
    // m_pending holds no line end before this offset, from m_at on.
    qsizetype m_scanned = 0;
    qsizetype m_headBytes = 0;
    int m_interimAnswers = 0;
    bool m_statusRead = false;
    bool m_headRead = false;
    int m_status = 0;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    Framing m_framing = Framing::None;
    ChunkStep m_chunkStep = ChunkStep::Size;
    qint64 m_remaining = 0;
    QByteArray m_body;
    QString m_problem;
};
