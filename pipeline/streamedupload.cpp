#include "pipeline/streamedupload.h"

#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>

namespace {

constexpr qint64 kBlockBytes = 256 * 1024;
constexpr qint64 kMaxQueuedBytes = 512 * 1024;

bool isHttps(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

StreamedUpload::StreamedUpload(Request request, QIODevice& file)
    : m_request(std::move(request))
    , m_file(file)
    , m_answer(m_request.maxAnswerBytes)
    , m_fileLeft(m_request.fileBytes)
{
}

qint64 StreamedUpload::bodyLength() const
{
    return m_request.bodyHead.size() + m_request.fileBytes + m_request.bodyTail.size();
}

QByteArray StreamedUpload::requestHead() const
{
    const QUrl& url = m_request.url;
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() >= 0 && url.port() != (isHttps(url) ? 443 : 80))
        host += ':' + QByteArray::number(url.port());

    QByteArray head = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& field : m_request.headers)
        head += field.first + ": " + field.second + "\r\n";
    return head + "Content-Length: " + QByteArray::number(bodyLength()) + "\r\n\r\n";
}

void StreamedUpload::start()
{
    const QUrl& url = m_request.url;
    const bool https = isHttps(url);
    if (!https && url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) {
        finish(End::NetworkFailed, QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme()));
        return;
    }
    if (https) {
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(m_request.tls);
        connect(socket, &QSslSocket::encrypted, this, &StreamedUpload::onConnected);
        connect(socket, &QSslSocket::encryptedBytesWritten, this, &StreamedUpload::onWritten);
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &StreamedUpload::onConnected);
    }
    connect(m_socket, &QTcpSocket::bytesWritten, this, &StreamedUpload::onWritten);
    connect(m_socket, &QTcpSocket::readyRead, this, &StreamedUpload::onReadable);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &StreamedUpload::onBroken);
    connect(m_socket, &QTcpSocket::disconnected, this, &StreamedUpload::onBroken);
    const quint16 port = quint16(url.port(https ? 443 : 80));
    if (https)
        static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(url.host(), port);
    else
        m_socket->connectToHost(url.host(), port);
}

void StreamedUpload::stop()
{
    finish(End::Stopped);
}

void StreamedUpload::onConnected()
{
    if (m_end != End::None)
        return;
    const QByteArray head = requestHead();
    m_headBytes = head.size();
    m_written = m_socket->write(head + m_request.bodyHead);
    if (onMoved)
        onMoved();
    sendMore();
}

// Tops the socket's queue up from the file, then adds the tail once the
// file has been sent whole.
void StreamedUpload::sendMore()
{
    while (m_end == End::None && !answerStopsBody() && m_fileLeft > 0 && queuedBytes() < kMaxQueuedBytes) {
        if (!writeFileBlock())
            return;
    }
    if (m_end == End::None && !answerStopsBody() && m_fileLeft == 0 && !m_tailWritten)
        checkFileEnd();
}

bool StreamedUpload::writeFileBlock()
{
    m_block.resize(qsizetype(qMin(kBlockBytes, m_fileLeft)));
    const qint64 count = m_file.read(m_block.data(), m_block.size());
    if (count < 0) {
        finish(End::FileFailed, QStringLiteral("Cannot read file: ") + m_file.errorString());
        return false;
    }
    if (count == 0) {
        finish(End::FileFailed, QStringLiteral("The file got shorter while it was being sent"));
        return false;
    }
    m_written += m_socket->write(m_block.constData(), count);
    m_fileLeft -= count;
    return true;
}

void StreamedUpload::checkFileEnd()
{
    char extra = 0;
    const qint64 count = m_file.read(&extra, 1);
    if (count != 0) {
        finish(End::FileFailed, count > 0 ? QStringLiteral("The file got longer while it was being sent")
                                          : QStringLiteral("Cannot read file: ") + m_file.errorString());
        return;
    }
    m_written += m_socket->write(m_request.bodyTail);
    m_tailWritten = true;
}

void StreamedUpload::onWritten()
{
    // The TLS handshake's own bytes count for nothing.
    if (m_end != End::None || m_headBytes == 0)
        return;
    m_bodySent = qBound<qint64>(0, m_written - queuedBytes() - m_headBytes, bodyLength());
    if (onMoved)
        onMoved();
    if (onSent)
        onSent(m_bodySent, bodyLength());
    sendMore();
}

void StreamedUpload::onReadable()
{
    if (m_end != End::None)
        return;
    m_answer.feed(m_socket->readAll());
    if (onMoved)
        onMoved();
    if (m_answer.state() != HttpAnswer::State::Head && m_answer.state() != HttpAnswer::State::Body)
        finish(End::Answered);
}

// The connection broke or closed. What the socket still holds is read
// first: an answer may have come whole just before.
void StreamedUpload::onBroken()
{
    if (m_end != End::None)
        return;
    m_answer.feed(m_socket->readAll());
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError
        || m_socket->state() == QAbstractSocket::UnconnectedState)
        m_answer.endOfInput();
    if (m_answer.state() != HttpAnswer::State::Head && m_answer.state() != HttpAnswer::State::Body)
        finish(End::Answered);
    else
        finish(End::NetworkFailed, m_socket->errorString());
}

// An error status (or an answer that cannot be read) while the body goes
// out: the server does not want the rest.
bool StreamedUpload::answerStopsBody() const
{
    return m_answer.state() == HttpAnswer::State::Malformed || (m_answer.hasHead() && m_answer.status() >= 300);
}

qint64 StreamedUpload::queuedBytes() const
{
    const auto* ssl = qobject_cast<const QSslSocket*>(m_socket);
    return m_socket->bytesToWrite() + (ssl ? ssl->encryptedBytesToWrite() : 0);
}

void StreamedUpload::finish(End end, const QString& errorText)
{
    if (m_end != End::None)
        return;
    m_end = end;
    m_errorText = errorText;
    if (m_socket)
        m_socket->abort();
    if (onEnd)
        onEnd();
}
