#include "pipeline/httpanswer.h"

#include <algorithm>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A header field name: visible ASCII without separators.
bool isFieldName(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (c <= ' ' || c >= 127 || QByteArrayView("\"(),/:;<=>?@[\\]{}").contains(c))
            return false;
    }
    return true;
}

// The chunk and length numbers stay below 2^60, so no sum overflows.
constexpr int kMaxNumberDigits = 15;

} // namespace

HttpAnswer::HttpAnswer(qint64 maxBodyBytes)
    : m_maxBodyBytes(maxBodyBytes)
{
}

QByteArray HttpAnswer::header(QByteArrayView name) const
{
    for (const auto& field : m_headers) {
        if (name.compare(field.first, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return {};
}

void HttpAnswer::feed(QByteArrayView bytes)
{
    if (m_state != State::Head && m_state != State::Body)
        return;
    m_pending.append(bytes);
    for (;;) {
        const State before = m_state;
        const qsizetype at = m_at;
        if (m_state == State::Head)
            readHead();
        else if (m_state == State::Body)
            readBody();
        if (m_state == before && m_at == at)
            break;
    }
    m_pending.remove(0, m_at);
    m_scanned = qMax<qsizetype>(0, m_scanned - m_at);
    m_at = 0;
}

void HttpAnswer::endOfInput()
{
    if (m_state == State::Body && m_framing == Framing::UntilClose)
        m_state = State::Complete;
}

void HttpAnswer::fail(const QString& problem)
{
    m_state = State::Malformed;
    m_problem = problem;
}

bool HttpAnswer::takeLine(QByteArray& line)
{
    const qsizetype end = m_pending.indexOf('\n', qMax(m_at, m_scanned));
    if (end < 0) {
        m_scanned = m_pending.size();
        if (available() > kMaxHeadBytes)
            fail(QStringLiteral("a line of the answer is too long"));
        return false;
    }
    line = m_pending.mid(m_at, end - m_at);
    m_at = end + 1;
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

void HttpAnswer::readHead()
{
    QByteArray line;
    while (m_state == State::Head && takeLine(line)) {
        m_headBytes += line.size() + 2;
        if (m_headBytes > kMaxHeadBytes)
            fail(QStringLiteral("the header block is too large"));
        else if (!m_statusRead && !line.isEmpty())
            readStatusLine(line);
        else if (m_statusRead && line.isEmpty())
            endHead();
        else if (m_statusRead)
            readHeaderLine(line);
    }
}

// HTTP/1.x SP 3DIGIT [SP reason-phrase]
void HttpAnswer::readStatusLine(const QByteArray& line)
{
    const bool shaped = line.size() >= 12 && line.startsWith("HTTP/1.") && isDigit(line[7]) && line[8] == ' '
        && isDigit(line[9]) && isDigit(line[10]) && isDigit(line[11]) && (line.size() == 12 || line[12] == ' ');
    if (!shaped || line[9] == '0') {
        fail(QStringLiteral("not an HTTP/1 status line"));
        return;
    }
    m_status = line.mid(9, 3).toInt();
    m_reason = line.mid(13).trimmed();
    m_statusRead = true;
}

void HttpAnswer::readHeaderLine(const QByteArray& line)
{
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon);
    // A line that starts with a blank continues the previous field, a form
    // answers may no longer use.
    if (colon <= 0 || !isFieldName(name)) {
        fail(QStringLiteral("a malformed header line"));
        return;
    }
    m_headers.append({name.toLower(), line.mid(colon + 1).trimmed()});
}

void HttpAnswer::endHead()
{
    if (m_status < 200) {
        if (++m_interimAnswers > kMaxInterimAnswers) {
            fail(QStringLiteral("too many interim answers"));
            return;
        }
        m_statusRead = false;
        m_status = 0;
        m_reason.clear();
        m_headers.clear();
        return;
    }
    m_headRead = true;
    chooseFraming();
}

void HttpAnswer::chooseFraming()
{
    qint64 length = 0;
    const bool hasCoding = !header("transfer-encoding").isEmpty();
    const bool hasLength = !header("content-length").isEmpty();
    if (m_status == 204 || m_status == 304) {
        m_state = State::Complete;
    } else if (hasCoding) {
        // Nothing asked for any other coding, and chunked comes only once.
        if (header("transfer-encoding").toLower() != "chunked") {
            fail(QStringLiteral("an unsupported transfer coding: ") + QString::fromLatin1(header("transfer-encoding")));
            return;
        }
        m_framing = Framing::Chunked;
        m_state = State::Body;
    } else if (hasLength && !contentLength(length)) {
        fail(QStringLiteral("an invalid Content-Length"));
    } else if (hasLength && length > m_maxBodyBytes) {
        m_state = State::TooLarge;
    } else if (hasLength) {
        m_framing = Framing::Length;
        m_remaining = length;
        m_state = length == 0 ? State::Complete : State::Body;
    } else {
        m_framing = Framing::UntilClose;
        m_state = State::Body;
    }
}

// Every Content-Length value, also in repeated fields or lists, must be the
// same decimal number.
bool HttpAnswer::contentLength(qint64& length) const
{
    length = -1;
    for (const auto& field : m_headers) {
        if (field.first != "content-length")
            continue;
        for (const QByteArray& item : field.second.split(',')) {
            const QByteArray number = item.trimmed();
            if (number.isEmpty() || number.size() > kMaxNumberDigits
                || !std::all_of(number.begin(), number.end(), isDigit))
                return false;
            const qint64 value = number.toLongLong();
            if (length >= 0 && value != length)
                return false;
            length = value;
        }
    }
    return length >= 0;
}

bool HttpAnswer::appendBody(QByteArrayView bytes)
{
    if (m_body.size() + bytes.size() > m_maxBodyBytes) {
        m_state = State::TooLarge;
        return false;
    }
    m_body.append(bytes);
    return true;
}

void HttpAnswer::readBody()
{
    if (m_framing == Framing::Chunked) {
        readChunked();
        return;
    }
    const qsizetype count = m_framing == Framing::Length ? qsizetype(qMin<qint64>(m_remaining, available())) : available();
    if (count == 0 || !appendBody(QByteArrayView(m_pending).sliced(m_at, count)))
        return;
    m_at += count;
    m_remaining -= count;
    if (m_framing == Framing::Length && m_remaining == 0)
        m_state = State::Complete;
}

void HttpAnswer::readChunked()
{
    QByteArray line;
    while (m_state == State::Body) {
        if (m_chunkStep == ChunkStep::Data) {
            const qsizetype count = qsizetype(qMin<qint64>(m_remaining, available()));
            if (count == 0 || !appendBody(QByteArrayView(m_pending).sliced(m_at, count)))
                return;
            m_at += count;
            m_remaining -= count;
            if (m_remaining == 0)
                m_chunkStep = ChunkStep::DataEnd;
        } else if (!takeLine(line)) {
            return;
        } else if (m_chunkStep == ChunkStep::Size) {
            readChunkSize(line);
        } else if (m_chunkStep == ChunkStep::DataEnd) {
            if (!line.isEmpty())
                fail(QStringLiteral("a chunk longer than announced"));
            m_chunkStep = ChunkStep::Size;
        } else if ((m_headBytes += line.size() + 2) > kMaxHeadBytes) {
            fail(QStringLiteral("the trailer block is too large"));
        } else if (line.isEmpty()) {
            m_state = State::Complete;
        }
    }
}

// chunk-size [; extensions]
void HttpAnswer::readChunkSize(const QByteArray& line)
{
    const qsizetype semicolon = line.indexOf(';');
    const QByteArray digits = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
    if (digits.isEmpty() || digits.size() > kMaxNumberDigits
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return hexValue(c) >= 0; })) {
        fail(QStringLiteral("an invalid chunk size"));
        return;
    }
    const qint64 size = digits.toLongLong(nullptr, 16);
    if (m_body.size() + size > m_maxBodyBytes) {
        m_state = State::TooLarge;
        return;
    }
    m_remaining = size;
    m_chunkStep = size == 0 ? ChunkStep::Trailer : ChunkStep::Data;
}
