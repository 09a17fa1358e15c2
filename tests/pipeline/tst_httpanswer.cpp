#include "pipeline/httpanswer.h"

#include <QTest>

using State = HttpAnswer::State;

namespace {

// Feeds the answer in pieces of `pieceBytes` (all at once when 0) and ends
// the input when `closed`.
HttpAnswer read(const QByteArray& bytes, qsizetype pieceBytes, bool closed, qint64 maxBody = 64)
{
    HttpAnswer answer(maxBody);
    const qsizetype step = pieceBytes > 0 ? pieceBytes : qMax<qsizetype>(1, bytes.size());
    for (qsizetype at = 0; at < bytes.size(); at += step)
        answer.feed(QByteArrayView(bytes).sliced(at, qMin(step, bytes.size() - at)));
    if (closed)
        answer.endOfInput();
    return answer;
}

} // namespace

class TestHttpAnswer : public QObject {
    Q_OBJECT

private slots:
    void readsEveryFramingInAnyPieces_data();
    void readsEveryFramingInAnyPieces();
    void refusesWhatItCannotRead_data();
    void refusesWhatItCannotRead();
};

void TestHttpAnswer::readsEveryFramingInAnyPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("length") << QByteArray("HTTP/1.1 201 Created\r\nContent-Length: 9\r\n\r\n{\"id\":42}trailing junk")
                            << false << 201 << QByteArray("Created") << QByteArray("{\"id\":42}");
    QTest::newRow("chunked, extensions, trailers")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n4;x=y\r\n{\"id\r\n5\r\n\":42}\r\n0\r\n"
                      "X-Checksum: 1\r\n\r\n")
        << false << 200 << QByteArray("OK") << QByteArray("{\"id\":42}");
    QTest::newRow("unasked 100 Continue, then the answer")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: 1\r\n\r\n"
                      "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 2\r\n\r\n{}")
        << false << 413 << QByteArray("Payload Too Large") << QByteArray("{}");
    QTest::newRow("HTTP/1.0 until the connection closes")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"id\":7}") << true << 200
        << QByteArray("OK") << QByteArray("{\"id\":7}");
    QTest::newRow("no reason, bare line feeds")
        << QByteArray("\r\nHTTP/1.1 503\nRetry-After: 5\nContent-Length: 0\n\n") << false << 503 << QByteArray()
        << QByteArray();
    QTest::newRow("204 has no body") << QByteArray("HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n") << false
                                     << 204 << QByteArray("No Content") << QByteArray();
    QTest::newRow("repeated equal lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\ncontent-length: 2\r\n\r\n{}") << false << 200
        << QByteArray("OK") << QByteArray("{}");
}

// Whole, in single bytes and in threes, the same answer: a parser that loses
// its place between pieces fails here.
void TestHttpAnswer::readsEveryFramingInAnyPieces()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, closed);
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, body);
    for (const qsizetype piece : {qsizetype(0), qsizetype(1), qsizetype(3)}) {
        const HttpAnswer answer = read(bytes, piece, closed);
        QVERIFY2(answer.isComplete(), qPrintable(QStringLiteral("piece %1: %2").arg(piece).arg(answer.problem())));
        QCOMPARE(answer.status(), status);
        QCOMPARE(answer.reason(), reason);
        QCOMPARE(answer.body(), body);
    }
    const HttpAnswer answer = read(bytes, 0, closed);
    if (status == 503)
        QCOMPARE(answer.header("RETRY-after"), QByteArray("5"));
    // Without its end, an answer read until the close is not whole.
    if (closed)
        QCOMPARE(read(bytes, 0, false).state(), State::Body);
}

void TestHttpAnswer::refusesWhatItCannotRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("state");

    const auto malformed = int(State::Malformed);
    const auto tooLarge = int(State::TooLarge);
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << malformed;
    QTest::newRow("HTTP/2 status line") << QByteArray("HTTP/2 200\r\n\r\n") << malformed;
    QTest::newRow("two-digit status") << QByteArray("HTTP/1.1 20 OK\r\n\r\n") << malformed;
    QTest::newRow("folded header") << QByteArray("HTTP/1.1 200 OK\r\nX: a\r\n b\r\n\r\n") << malformed;
    QTest::newRow("space before colon") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length : 2\r\n\r\n{}") << malformed;
    QTest::newRow("lengths disagree") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}")
                                      << malformed;
    QTest::newRow("negative length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n") << malformed;
    QTest::newRow("gzip coding") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n")
                                 << malformed;
    QTest::newRow("chunk size not hex") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")
                                        << malformed;
    QTest::newRow("chunk size overflow")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff1\r\n") << malformed;
    QTest::newRow("chunk longer than announced")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}}\r\n0\r\n\r\n") << malformed;
    QTest::newRow("endless interim answers") << QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(20) << malformed;
    QTest::newRow("huge header block")
        << QByteArray("HTTP/1.1 200 OK\r\n") + QByteArray("X-Pad: 0123456789\r\n").repeated(4000) << malformed;
    QTest::newRow("endless line") << QByteArray("HTTP/1.1 200 OK\r\nX: ") + QByteArray(HttpAnswer::kMaxHeadBytes + 8, 'x')
                                  << malformed;
    QTest::newRow("announced too large") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 65\r\n\r\n") << tooLarge;
    QTest::newRow("chunks too large")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n20\r\n") + QByteArray(32, 'a')
               + "\r\n21\r\n"
        << tooLarge;
    QTest::newRow("unframed too large") << QByteArray("HTTP/1.0 200 OK\r\n\r\n") + QByteArray(65, 'a') << tooLarge;
}

void TestHttpAnswer::refusesWhatItCannotRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, state);
    for (const qsizetype piece : {qsizetype(0), qsizetype(1), qsizetype(7)}) {
        const HttpAnswer answer = read(bytes, piece, true);
        QCOMPARE(int(answer.state()), state);
        QCOMPARE(answer.body().size() <= 64, true);
        if (state == int(State::Malformed))
            QVERIFY(!answer.problem().isEmpty());
    }
}

QTEST_APPLESS_MAIN(TestHttpAnswer)
#include "tst_httpanswer.moc"
