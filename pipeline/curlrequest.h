#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

// One HTTP request on libcurl, run to its end on the calling thread. The
// thread's own events go on while it runs (curl's sockets are polled in
// short rounds between them), so a timer or a server living on that thread
// still works, as with a local event loop.
//
// Whatever arrives is bounded as it arrives, whatever its framing (length,
// chunked, until close): the header lines of all answers together by
// kMaxHeaderBytes, the final answer's body by maxBodyBytes. The request goes
// through the proxy the system names for its URL (plain http as an ordinary
// proxied request, https through a CONNECT tunnel); TLS is 1.2 or newer with
// the peer's certificate and host name checked. A redirect is never followed
// here: the caller sees the 3xx answer and decides.
class CurlRequest final {
public:
    enum class End {
        // An answer came whole (any status).
        Answered,
        // No whole answer: refused or dropped connection, name lookup, TLS.
        NetworkFailed,
        BodyTooLarge,
        HeadersTooLarge,
        // The body sink refused bytes (a local write failed).
        SinkFailed,
        // The body source failed or aborted (see errorText()).
        SourceFailed,
        // No byte moved for stallTimeoutMs.
        Stalled,
        // totalTimeoutMs passed.
        TimedOut,
        // Under 1 KiB a second for a minute (lowSpeedCut).
        TooSlow,
        Aborted,
        // The proxy answered 407.
        ProxyCredentials,
    };

    static constexpr qint64 kMaxHeaderBytes = 64 * 1024;

    explicit CurlRequest(const QUrl& url);
    ~CurlRequest();
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    // Request header lines, "Name: value".
    QList<QByteArray> headers;
    // A POST with this body.
    void setBody(const QByteArray& body);
    // A POST whose `length` bytes come from `read`, called with a buffer
    // and its size: the bytes copied, or -1 to fail the request with the
    // given text (set through failSource()).
    void setBodySource(qint64 length, std::function<qint64(char*, qint64)> read);
    void failSource(const QString& text) { m_errorText = text; }
    // Where the final answer's body goes when it is a success (2xx); false
    // stops the request. Without a sink the body is kept (body()).
    std::function<bool(const char*, qint64)> bodySink;
    qint64 maxBodyBytes = 1024 * 1024;
    // 0: none.
    int totalTimeoutMs = 0;
    int stallTimeoutMs = 60000;
    // Cut the transfer when it moves under 1 KiB a second for 60 s.
    bool lowSpeedCut = false;
    // Trusted certificate authorities in PEM, replacing the system's store;
    // empty: the system's store.
    QByteArray caCertificatesPem;
    // Looked at between rounds: true stops the request (End::Aborted).
    std::function<bool()> abortWanted;
    // Bytes sent and received so far, called between rounds when they change.
    std::function<void(qint64 sent, qint64 received)> onProgress;

    End run();

    // The final answer's status (0 when none came), its reason phrase, a
    // header's value (empty when absent) and its kept body.
    QUrl url() const { return m_url; }
    int status() const { return m_status; }
    QByteArray reason() const { return m_reason; }
    QByteArray header(const QByteArray& name) const;
    QByteArray body() const { return m_body; }
    qint64 bodyBytes() const { return m_bodyBytes; }
    qint64 sentBytes() const { return m_sent; }
    // The length the answer announced for its body; -1 while not known.
    qint64 expectedBodyBytes() const { return m_expectedBody; }
    // What failed, for the user; empty when the answer came.
    QString errorText() const { return m_errorText; }

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* buffer, size_t size, size_t count, void* self);
    void configure(void* easy);
    bool applyProxy(void* easy);
    End sortFailure(int code);
    bool takeBody(const char* data, qint64 size);

    QUrl m_url;
    QByteArray m_postBody;
    bool m_post = false;
    qint64 m_sourceLength = -1;
    std::function<qint64(char*, qint64)> m_source;
    bool m_sourceFailed = false;
    QByteArray m_proxy;
    QByteArray m_errorBuffer;

    int m_status = 0;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    qint64 m_headerBytes = 0;
    bool m_headersTooLarge = false;
    QByteArray m_body;
    qint64 m_bodyBytes = 0;
    bool m_bodyTooLarge = false;
    bool m_sinkFailed = false;
    qint64 m_sent = 0;
    qint64 m_expectedBody = -1;
    QString m_errorText;
};
