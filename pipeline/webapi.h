#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class CurlRequest;
class QFile;
class QSslCertificate;
class QUrl;

// Client of the processing service's REST interface: log-in, presets, job
// submission, job status and result download.
//
// Every call is synchronous: it sends one request on libcurl (CurlRequest)
// and returns when it has ended, while the calling thread's own events go
// on. It belongs on a worker thread (each session thread owns one WebAPI)
// or, briefly, on the thread that runs the queue manager's log-in; no call
// depends on the thread the object lives on.
//
// Limits. A request whose bytes stop moving for stallTimeout() ms is cut
// and fails like any network error. A JSON request has a total deadline
// (log-in 30 s, the others 120 s); the upload and the result download are
// cut when they move under 1 KiB a second for a minute. Every answer is
// bounded as it arrives, whatever its framing: header lines of an answer
// 64 KiB together, JSON bodies kMaxJsonBytes (preset lists
// kMaxPresetsBytes), a result the bound its caller gives and never past the
// point where its disk would keep less than kMinFreeDiskBytes. A result
// streams into a hidden part file that is renamed once whole and removed on
// any failure.
//
// A redirect is followed only within the service's origin (scheme, host and
// port), so the bearer token never goes to another host; one that leaves it
// fails the request. The job upload is sent once, never again by itself,
// and a redirect of it is not followed. Proxies are the system's for each
// URL.
//
// Failures leave a text in lastError(): the HTTP status code (empty when
// there is none), " - " and the network error text, or one of the fixed
// texts of the individual calls.
//
// Process-wide state, shared by every instance: the bearer token (token
// mutex), the API base URL the session threads start with (host mutex) and
// the extra trusted certificate authorities (TLS mutex). These three
// mutexes are leaf locks, never held together and never while a request
// runs.
class WebAPI : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultStallTimeoutMs = 60000;
    static constexpr qint64 kMaxJsonBytes = 1024 * 1024;
    static constexpr qint64 kMaxPresetsBytes = 16 * 1024 * 1024;
    static constexpr int kLoginDeadlineMs = 30000;
    static constexpr int kRequestDeadlineMs = 120000;
    // A result download stops where its disk would keep less than this.
    static constexpr qint64 kMinFreeDiskBytes = 64 * 1024 * 1024;

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
    // is renamed only once the answer is whole, so memory use does not grow
    // with the result and no partial file ever carries the result name. A
    // body beyond maxBytes (0: no bound of its own) or beyond the disk's
    // free space less kMinFreeDiskBytes is cut and removed.
    QString downloadResult(int jobId, const QString& targetPath, qint64 maxBytes = 0);
    // The largest result an upload of `seconds` of audio may come back as:
    // that length at 192 kHz, 8 channels and 32 bits, plus 64 MiB; 0 (no
    // bound of its own) when the length is not known.
    static qint64 maxResultBytes(double seconds);

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
    // The whole of the running (or last) upload and download; -1 while not known.
    qint64 uploadTotalBytes() const { return m_uploadTotalBytes; }
    qint64 downloadTotalBytes() const { return m_downloadTotalBytes; }
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

    // Total deadlines of the log-in and of the other JSON requests,
    // process-wide, in milliseconds.
    static void setDeadlines(int loginMs, int requestMs);

    // No-progress time-out of every request, process-wide, in milliseconds.
    static int stallTimeout();
    static void setStallTimeout(int milliseconds);

    // Adds trusted certificate authorities on top of the system's store,
    // for a service with a private CA; every later request trusts them.
    static void addCaCertificates(const QList<QSslCertificate>& certificates);

private:
    enum class Abortable { No, Yes };

    // A request to the service: the path below the base URL, whether it
    // carries the token, and its limits.
    struct Call {
        QByteArray path;
        bool authorised = true;
        Abortable abortable = Abortable::No;
        qint64 maxBytes = kMaxJsonBytes;
        bool login = false;
        // A POST with this JSON body when set.
        QByteArray jsonBody;
        bool post = false;
    };

    // The base URL with `path` appended; slashes that end the base URL
    // are left out, so "https://host/api/" works as "https://host/api" does.
    QUrl urlFor(const QByteArray& path) const;
    // "Bearer <token>", remembering the token as lastRequestToken().
    QByteArray authorisation();
    void resetOutcome();
    // Sets the shared limits and the abort test, runs the request and
    // sorts its end; false with lastError set on any failure.
    bool perform(CurlRequest& request, Abortable abortable);
    // Runs a JSON call, following redirects within the service; the
    // answer's object, or false with lastError set.
    bool fetchObject(const Call& call, QJsonObject& object);
    // A 3xx answer: the target within the service's origin to go to next,
    // or an empty URL after refusing one elsewhere (lastError set).
    QUrl redirectTarget(const CurlRequest& request, const QUrl& url);
    void reportUploaded(qint64 sent, qint64 total);
    void failWith(Failure failure, const QString& text);
    bool abortWanted(Abortable abortable) const;
    bool parseObject(const QByteArray& body, QJsonObject& object);
    // The downloaded body is a whole WAV file sent as audio.
    bool isWholeAudio(const CurlRequest& request, QFile& partFile);
    QString finishDownload(QFile& partFile, const QString& targetPath);

    static void setToken(const QString& token);

    QList<QByteArray> m_presets;
    QString m_user;
    QString m_password;
    QByteArray m_baseUrl;
    std::atomic<qint64> m_uploadedBytes{0};
    std::atomic<qint64> m_downloadedBytes{0};
    std::atomic<qint64> m_uploadTotalBytes{-1};
    std::atomic<qint64> m_downloadTotalBytes{-1};
    int m_lastJobId = 0;
    std::atomic<bool> m_abortRequested{false};
    std::atomic<bool> m_abortAll{false};
    const std::atomic<bool>* m_cancelFlag = nullptr;
    QElapsedTimer m_sinceUploadLog;
    Failure m_failure = Failure::None;
    int m_httpStatus = 0;
    int m_retryAfterMs = 0;
    bool m_uploadAnswerLost = false;
    QString m_lastError;
    QString m_lastRequestToken;
};
