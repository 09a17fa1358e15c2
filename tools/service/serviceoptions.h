#pragma once

#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// A log-in the service accepts.
struct AccountSpec {
    QString email;
    QString password;
};

// Requests whose path (below /api) matches `pattern` are answered only after `seconds`.
struct StallRule {
    QRegularExpression pattern;
    int seconds = 0;
};

// The first `count` requests whose path matches get 503 with a Retry-After
// of `retryAfterSeconds`.
struct UnavailableRule {
    QRegularExpression pattern;
    int count = 0;
    int retryAfterSeconds = 0;
};

// JSON answers to requests whose path matches are written one byte every `intervalMs`.
struct DripRule {
    QRegularExpression pattern;
    int intervalMs = 0;
};

// Requests whose path matches are redirected (307) to the same path on `port`.
struct RedirectRule {
    QRegularExpression pattern;
    int port = 0;
};

// Everything the command line decides: where to listen, who may log in, how
// fast jobs run and which faults to inject.
struct ServiceOptions {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 port = 8080;
    QList<AccountSpec> accounts;
    qint64 credit = 100;
    qint64 maxBodyBytes = qint64(2) * 1024 * 1024 * 1024;
    QString dataDir;
    int stepMs = 100;
    QList<double> progressPoints{20, 40, 60, 80, 100};
    int workers = 2;
    QString tlsCertificate;
    QString tlsKey;

    bool rejectUploads = false;
    bool failJobs = false;
    bool dropAfterUpload = false;
    bool emptyPresets = false;
    bool mixedPresets = false;
    qint64 dropResultAfter = -1;
    QList<StallRule> stalls;
    QList<QRegularExpression> malformedJson;
    QList<UnavailableRule> unavailable;
    QList<RedirectRule> redirects;
    bool refusePolls = false;
    bool restartAtResult = false;
    bool sameToken = false;
    bool unusualAnswers = false;
    QList<QRegularExpression> endless;
    QList<QRegularExpression> endlessHeaders;
    QList<DripRule> drips;
    int expireTokenAfter = 0;
    // --chaos SEED:PERCENT; a percent of 0 leaves the chaos mode off.
    quint32 chaosSeed = 0;
    int chaosPercent = 0;
    // The id of the first job; a service started again can go on where the
    // old one's ids ended, as a service that keeps its jobs would.
    int firstJobId = 1;

    // Seconds to hold a request to `path`, 0 when no stall rule matches.
    int stallSecondsFor(const QString& path) const;
    bool malformedJsonFor(const QString& path) const;
    // The byte interval of a drip-fed answer to `path`, 0 when none.
    int dripMsFor(const QString& path) const;
};

inline const char* const kDemoEmail = "demo@sonvira.local";
inline const char* const kDemoPassword = "demo";

// Parses the command line. On a usage error returns false with the message in
// `error`; --help and --version print and exit inside.
bool parseServiceOptions(const QStringList& arguments, ServiceOptions& options, QString& error);

// A wildcard over a request path: `*` stands for any run of characters
// (slashes included), everything else is literal; the whole path must match.
QRegularExpression pathPattern(const QString& wildcard);
