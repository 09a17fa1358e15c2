#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

class QFile;
class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QSslCertificate;
class QSslConfiguration;
class StreamedUpload;
class UploadForm;

// Client of the processing service's REST interface: log-in, presets, job
// submission, job status and result download.
//
// Every call is synchronous: it sends one request and runs a local event
// loop until the reply has finished, so it belongs on a worker thread (each
// session thread owns one WebAPI) or, briefly, on the thread that runs the
// queue manager's log-in. Called on the thread the object lives on, it uses
// its own network manager; called from another thread it uses a network
// manager of that call's own, because a network manager may only be used on
// its thread.
//
// A request whose bytes stop moving for stallTimeout() milliseconds is
// aborted and fails like any other network error, so a stalled server never
// holds a session for ever.
//
// Answers are bounded: a JSON answer larger than kMaxJsonBytes (preset lists
// kMaxPresetsBytes) is refused as it arrives; results stream to disk. A
// redirect is followed only within the service's origin (scheme, host and
// port), so the bearer token never goes to another host; one that leaves it
// fails the request. The job upload goes out on a socket of the calling
// thread (StreamedUpload), so its body never crosses to the network
// manager's thread in small pieces; it is sent once, never again by itself,
// and a redirect of it is not followed.
//
// Failures leave a text in lastError(): the HTTP status code (empty when
// there is none), " - " and the network error text, or one of the fixed
// texts of the individual calls.
//
// Process-wide state, shared by every instance: the bearer token (token
// mutex), the API base URL the session threads start with (host mutex) and
// the TLS configuration (TLS mutex). These three mutexes are leaf locks,
// never held together and never while a request runs.
class WebAPI : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultStallTimeoutMs = 60000;
    static constexpr qint64 kMaxJsonBytes = 1024 * 1024;
    static constexpr qint64 kMaxPresetsBytes = 16 * 1024 * 1024;

    // What made the last call fail.
    enum class Failure {
        None,
        // No answer: refused or dropped connection, time-out, name lookup.
        Network,
        // The service answered 5xx or 429: busy or failing for a while.
        Busy,
        // An answer that cannot be used: not the JSON expected, too large,
        // a result cut off or not audio.
        Unreadable,
        // Any other HTTP error status (401, 404, 415, ...).
        Refused,
        // A redirect that leaves the service's origin.
        Redirect,
        // Aborted on request (cancel, stop).
        Aborted,
        // Local trouble: the file to send or the result file.
        Local,
    };

    WebAPI();
    ~WebAPI() override;

    // POST /Login with {"email","password"}; stores the returned token as
    // the process-wide token. The cancel flag aborts it like a submission.
    bool login(const QString& email, const QString& password);
    // GET /AudioPresets; fills presets() with "<id>: <name>" entries.
    bool getPresets();
    // POST /Jobs with the parts file, presetId and acceptAnyway; returns the
    // job id, or -1.
    int submitJob(const QString& filePath, int presetId, bool acceptAnyway);
    // GET /Jobs/<id>; the job object, or an empty object on failure.
    QJsonObject getJob(int jobId);
    // GET /Jobs/<id>/Result into targetPath (or a free name next to it);
    // returns the path written, native separators, or an empty string. The
    // body is streamed into a temporary file in the target's folder, which
    // is renamed only once the reply has completed, so memory use does not
    // grow with the result and no partial file ever carries the result name.
    QString downloadResult(int jobId, const QString& targetPath);

    // Any thread. Aborts a running submission or download (other requests
    // run to their end); cleared when the next submission or download starts.
    void abortCurrentRequest();
    // Any thread. Aborts whatever request runs now and every later one at
    // once; used when the owning thread is being stopped.
    void abortAllRequests();
    // A flag of the owner that, while set, aborts submissions and downloads
    // like abortCurrentRequest does, but is not cleared when the next one
    // starts: a cancel that arrives just before a request starts still
    // reaches it. The owner clears the flag once it has handled the cancel.
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancelFlag = flag; }

    void setBaseUrl(const QByteArray& url);
    QByteArray baseUrl() const { return m_baseUrl; }

    QList<QByteArray> presets() const { return m_presets; }
    QString lastError() const { return m_lastError; }
    Failure lastFailure() const { return m_failure; }
    // The HTTP status of the last answer, 0 when none came.
    int lastHttpStatus() const { return m_httpStatus; }
    // The wait the last answer asked for with Retry-After, in ms; 0 if none.
    int lastRetryAfterMs() const { return m_retryAfterMs; }
    // A failure that may pass: no answer, a busy service or an unusable answer.
    bool lastFailureMayPass() const
    {
        return m_failure == Failure::Network || m_failure == Failure::Busy || m_failure == Failure::Unreadable;
    }
    // The last submission's body left the client but no answer came back:
    // the service may have created the job.
    bool lastUploadAnswerLost() const { return m_uploadAnswerLost; }
    int lastJobId() const { return m_lastJobId; }
    QString user() const { return m_user; }
    // Any thread: progress of the running (or last) request.
    qint64 uploadedBytes() const { return m_uploadedBytes; }
    qint64 downloadedBytes() const { return m_downloadedBytes; }
    // The token the last authorised request carried; a 401 answer means
    // this token is no longer accepted.
    QString lastRequestToken() const { return m_lastRequestToken; }

    // downloadResult may replace an existing target.
    bool overwriteResult = false;
    // downloadResult picks a free name when the target exists (otherwise it
    // fails with "File already exists").
    bool uniqueResultName = true;

    // The process-wide bearer token.
    static QString token();
    // Clears the token if it still equals failedToken, or unconditionally
    // when always is set. Of several threads that failed with the same
    // token only the first clears it. Returns whether it was cleared.
    static bool invalidateToken(const QString& failedToken, bool always);

    // The API base URL every session thread gives its WebAPI.
    static QByteArray sessionHostUrl();
    static void setSessionHostUrl(const QByteArray& url);

    // No-progress time-out of every request, process-wide, in milliseconds.
    static int stallTimeout();
    static void setStallTimeout(int milliseconds);

    // Adds trusted certificate authorities to the shared TLS configuration
    // (on top of the system's store), for a service with a private CA. A
    // network manager keeps the TLS set-up of a host it has already talked
    // to, so call this before the WebAPI objects that need it make their
    // first request.
    static void addCaCertificates(const QList<QSslCertificate>& certificates);

private:
    enum class Abortable { No, Yes };

    // What a finished request came to, however it was sent.
    struct RequestEnd {
        int status = 0;
        QByteArray retryAfter;
        // No answer, or an answer with an error status.
        bool failed = false;
        bool canceled = false;
        // The network library's text of the failure.
        QString errorText;
    };

    QNetworkAccessManager* networkManager(std::unique_ptr<QNetworkAccessManager>& callLocal);
    QNetworkRequest buildRequest(const QByteArray& path, bool jsonContent, bool authorised, bool tls);
    // "Bearer <token>", remembering the token as lastRequestToken().
    QByteArray authorisation();
    static QSslConfiguration tlsConfiguration();
    void resetOutcome();
    void waitForReply(QNetworkReply* reply, Abortable abortable, qint64 maxBytes = 0);
    bool replySucceeded(QNetworkReply* reply);
    bool requestSucceeded(const RequestEnd& end);
    // POSTs the form with the file's bytes to /Jobs on a socket of this
    // thread; the answer's body, or false with lastError set.
    bool postForm(QIODevice& file, const UploadForm& form, QByteArray& answerBody);
    bool uploadSucceeded(const StreamedUpload& upload, QByteArray& answerBody);
    void reportUploaded(qint64 sent, qint64 total);
    void failWith(Failure failure, const QString& text);
    // Follows a redirect within the request's origin; refuses any other.
    void checkRedirect(QNetworkReply* reply, const QUrl& target);
    void followDownload(QNetworkReply* reply);
    bool abortWanted(Abortable abortable) const;
    bool parseObject(const QByteArray& body, QJsonObject& object);
    // Waits for a request and parses its JSON object; false with lastError
    // set on any failure.
    bool awaitObject(QNetworkReply* reply, QJsonObject& object, Abortable abortable = Abortable::No,
                     qint64 maxBytes = kMaxJsonBytes);
    // The downloaded body is a whole WAV file sent as audio.
    bool isWholeAudio(QNetworkReply* reply, QFile& partFile);
    QString finishDownload(QFile& partFile, const QString& targetPath);
    // False, with lastError set, when fewer bytes came than the reply announced.
    bool hasWholeBody(QNetworkReply* reply, qint64 received);

    static void setToken(const QString& token);

    QList<QByteArray> m_presets;
    QString m_user;
    QString m_password;
    QPointer<QNetworkAccessManager> m_network;
    QByteArray m_baseUrl;
    std::atomic<qint64> m_uploadedBytes{0};
    std::atomic<qint64> m_downloadedBytes{0};
    int m_lastJobId = 0;
    std::atomic<bool> m_abortRequested{false};
    std::atomic<bool> m_abortAll{false};
    const std::atomic<bool>* m_cancelFlag = nullptr;
    bool m_timedOut = false;
    bool m_tooLarge = false;
    qint64 m_maxBytes = 0;
    QElapsedTimer m_sinceUploadLog;
    QString m_refusedRedirect;
    Failure m_failure = Failure::None;
    int m_httpStatus = 0;
    int m_retryAfterMs = 0;
    bool m_uploadAnswerLost = false;
    QString m_lastError;
    QString m_lastRequestToken;
};
