#include "pipeline/curlrequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

#include <curl/curl.h>

#include <mutex>
#include <optional>

namespace {

// The longest the thread's own events wait while curl's sockets are idle.
constexpr int kPollMs = 10;
// Blocks curl reads from the network and takes from the body source; large
// enough that a fast transfer needs few rounds.
constexpr long kReceiveBufferBytes = 512 * 1024;
constexpr long kSendBufferBytes = 1024 * 1024;
constexpr long kLowSpeedBytes = 1024;
constexpr long kLowSpeedSeconds = 60;
// The same on every request, as the service's other clients send it.
constexpr char kUserAgent[] = "Mozilla/5.0";

void initialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isStatusLine(const QByteArray& line)
{
    return line.startsWith("HTTP/");
}

} // namespace

CurlRequest::CurlRequest(const QUrl& url)
    : m_url(url)
    , m_errorBuffer(CURL_ERROR_SIZE + 1, '\0')
{
    initialiseOnce();
}

CurlRequest::~CurlRequest() = default;

void CurlRequest::setBody(const QByteArray& body)
{
    m_post = true;
    m_postBody = body;
}

void CurlRequest::setBodySource(qint64 length, std::function<qint64(char*, qint64)> read)
{
    m_post = true;
    m_sourceLength = length;
    m_source = std::move(read);
}

QByteArray CurlRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

size_t CurlRequest::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* request = static_cast<CurlRequest*>(self);
    const size_t length = size * count;
    request->m_headerBytes += qint64(length);
    if (request->m_headerBytes > kMaxHeaderBytes) {
        request->m_headersTooLarge = true;
        return 0;
    }
    const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
    if (isStatusLine(line)) {
        // Each answer (a 1xx, the proxy's answer to CONNECT, the final one)
        // starts its own header list.
        request->m_headers.clear();
        const QList<QByteArray> parts = line.split(' ');
        request->m_status = parts.value(1).toInt();
        request->m_reason = line.mid(parts.value(0).size() + parts.value(1).size() + 2);
        return length;
    }
    // A final answer that announces a body beyond the bound is refused at
    // the end of its header block, before a byte of that body.
    if (line.isEmpty() && request->m_status >= 200
        && request->header("Content-Length").toLongLong() > request->maxBodyBytes) {
        request->m_bodyTooLarge = true;
        return 0;
    }
    const int colon = line.indexOf(':');
    if (colon > 0)
        request->m_headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    return length;
}

size_t CurlRequest::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* request = static_cast<CurlRequest*>(self);
    const size_t length = size * count;
    return request->takeBody(data, qint64(length)) ? length : 0;
}

bool CurlRequest::takeBody(const char* data, qint64 size)
{
    m_bodyBytes += size;
    if (m_bodyBytes > maxBodyBytes) {
        m_bodyTooLarge = true;
        return false;
    }
    const bool success = m_status >= 200 && m_status < 300;
    if (bodySink && success) {
        m_sinkFailed = !bodySink(data, size);
        return !m_sinkFailed;
    }
    m_body.append(data, size);
    return true;
}

size_t CurlRequest::onRead(char* buffer, size_t size, size_t count, void* self)
{
    auto* request = static_cast<CurlRequest*>(self);
    const qint64 copied = request->m_source(buffer, qint64(size * count));
    if (copied < 0) {
        request->m_sourceFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return size_t(copied);
}

// The proxy the system names for this URL, as for every other request of
// the application: environment variables on Linux, the system settings on
// Windows. No proxy is set as an empty one, so curl reads no variables of
// its own.
bool CurlRequest::applyProxy(void* easy)
{
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(m_url));
    const QNetworkProxy proxy = proxies.value(0);
    QByteArray scheme;
    if (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy)
        scheme = "http";
    else if (proxy.type() == QNetworkProxy::Socks5Proxy)
        scheme = "socks5h";
    if (scheme.isEmpty() || proxy.hostName().isEmpty()) {
        m_proxy.clear();
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        return false;
    }
    QUrl address;
    address.setScheme(QString::fromLatin1(scheme));
    address.setHost(proxy.hostName());
    address.setPort(proxy.port());
    m_proxy = address.toEncoded();
    curl_easy_setopt(easy, CURLOPT_PROXY, m_proxy.constData());
    if (!proxy.user().isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.user().toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.password().toUtf8().constData());
    }
    return true;
}

void CurlRequest::configure(void* easy)
{
    const QByteArray url = m_url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer.data());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlRequest::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlRequest::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    // A server may compress an answer (gzip, deflate and what else curl
    // reads); it arrives decoded, and the bounds count the decoded bytes.
    // Progress counts the bytes on the wire, as the announced length does.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caCertificatesPem.isEmpty()) {
        curl_blob blob{caCertificatesPem.data(), size_t(caCertificatesPem.size()), CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }
    if (totalTimeoutMs > 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(totalTimeoutMs));
    if (lowSpeedCut) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    }
    applyProxy(easy);
    if (!m_post)
        return;
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    if (m_source) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_sourceLength));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlRequest::onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, this);
        curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kSendBufferBytes);
    } else {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_postBody.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, m_postBody.constData());
    }
}

CurlRequest::End CurlRequest::run()
{
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        m_errorText = QStringLiteral("Cannot start the request");
        return End::NetworkFailed;
    }
    configure(easy);
    curl_slist* lines = nullptr;
    // No "Expect: 100-continue" wait before a body.
    for (const QByteArray& line : headers + QList<QByteArray>{"Expect:"})
        lines = curl_slist_append(lines, line.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, lines);
    curl_multi_add_handle(multi, easy);

    QElapsedTimer sinceMoved;
    sinceMoved.start();
    qint64 moved = -1;
    std::optional<End> stopped;
    int running = 1;
    while (true) {
        curl_multi_perform(multi, &running);
        curl_off_t sent = 0;
        curl_off_t received = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
        curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
        curl_off_t expected = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        m_sent = qint64(sent);
        m_expectedBody = qint64(expected);
        if (m_sent + qint64(received) + m_headerBytes != moved) {
            moved = m_sent + qint64(received) + m_headerBytes;
            sinceMoved.restart();
            if (onProgress)
                onProgress(m_sent, qint64(received));
        }
        if (running == 0)
            break;
        if (abortWanted && abortWanted()) {
            stopped = End::Aborted;
            break;
        }
        if (sinceMoved.elapsed() >= stallTimeoutMs) {
            stopped = End::Stalled;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
        QCoreApplication::processEvents();
    }

    CURLcode code = CURLE_OK;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE)
            code = message->data.result;
    }
    long connectStatus = 0;
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(lines);

    if (stopped)
        return *stopped;
    if (connectStatus == 407 || (!m_proxy.isEmpty() && m_status == 407)) {
        m_errorText = QStringLiteral("The proxy asks for credentials");
        return End::ProxyCredentials;
    }
    return code == CURLE_OK ? End::Answered : sortFailure(int(code));
}

CurlRequest::End CurlRequest::sortFailure(int code)
{
    if (m_headersTooLarge)
        return End::HeadersTooLarge;
    if (m_bodyTooLarge)
        return End::BodyTooLarge;
    if (m_sinkFailed)
        return End::SinkFailed;
    if (m_sourceFailed)
        return End::SourceFailed;
    const QString text = QString::fromUtf8(m_errorBuffer.constData());
    m_errorText = text.isEmpty() ? QString::fromUtf8(curl_easy_strerror(CURLcode(code))) : text;
    if (code == CURLE_OPERATION_TIMEDOUT)
        return m_errorText.startsWith(QLatin1String("Operation too slow")) ? End::TooSlow : End::TimedOut;
    return End::NetworkFailed;
}
