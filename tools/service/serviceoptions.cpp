#include "serviceoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <climits>

namespace {

const char* const kDescription =
    "Local reference processing service: the REST interface under /api\n"
    "(POST /Login, GET /AudioPresets, POST /Jobs, GET /Jobs/{id},\n"
    "GET /Jobs/{id}/Result) with real audio processing per preset.\n"
    "\n"
    "Demo account: demo@sonvira.local, password demo (always present).\n"
    "Presets: 1 \"Speech -16 LUFS\", 2 \"Music -14 LUFS\", 3 \"Broadcast -23 LUFS\",\n"
    "4 \"Passthrough\". A job costs 1 credit per started minute of audio.\n"
    "A job walks the status codes 3, 4, 5, 6 (with rising percentComplete),\n"
    "then 8 (ready), 11 (failed) or 12 (insufficient credit).\n"
    "\n"
    "PATTERN is matched against the whole request path below /api, for\n"
    "example /Login, /Jobs or /Jobs/*/Result; '*' matches any characters.\n"
    "When ready the service prints one line on standard output:\n"
    "  Listening on http://127.0.0.1:PORT/api\n"
    "and then logs one line per request on standard error.";

bool parseNumber(const QString& text, qint64 minimum, qint64& out)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum)
        return false;
    out = value;
    return true;
}

bool parseAccount(const QString& text, AccountSpec& out)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == text.size() - 1)
        return false;
    out.email = text.left(colon);
    out.password = text.mid(colon + 1);
    return true;
}

bool parseStall(const QString& text, StallRule& out)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    qint64 seconds = 0;
    if (colon <= 0 || !parseNumber(text.mid(colon + 1), 0, seconds))
        return false;
    out.pattern = pathPattern(text.left(colon));
    out.seconds = int(qMin<qint64>(seconds, 24 * 3600));
    return true;
}

bool parseUnavailable(const QString& text, UnavailableRule& out)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    qint64 count = 0;
    qint64 seconds = 0;
    if (parts.size() < 3 || !parseNumber(parts.at(parts.size() - 2), 1, count)
        || !parseNumber(parts.last(), 0, seconds) || count > INT_MAX || seconds > 86400)
        return false;
    out.pattern = pathPattern(parts.mid(0, parts.size() - 2).join(QLatin1Char(':')));
    out.count = int(count);
    out.retryAfterSeconds = int(seconds);
    return true;
}

bool parseRedirect(const QString& text, RedirectRule& out)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    qint64 port = 0;
    if (colon <= 0 || !parseNumber(text.mid(colon + 1), 1, port) || port > 65535)
        return false;
    out.pattern = pathPattern(text.left(colon));
    out.port = int(port);
    return true;
}

bool parseDrip(const QString& text, DripRule& out)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    qint64 interval = 0;
    if (colon <= 0 || !parseNumber(text.mid(colon + 1), 1, interval) || interval > 60000)
        return false;
    out.pattern = pathPattern(text.left(colon));
    out.intervalMs = int(interval);
    return true;
}

bool parseProgressPoints(const QString& text, QList<double>& out)
{
    QList<double> points;
    double previous = 0;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const double value = item.trimmed().toDouble(&ok);
        if (!ok || value < previous || value > 100)
            return false;
        points.append(value);
        previous = value;
    }
    if (points.isEmpty())
        return false;
    out = points;
    return true;
}

struct OptionSet {
    QCommandLineOption port{"port", "TCP port to listen on; 0 picks a free port (default 8080).", "N", "8080"};
    QCommandLineOption listen{"listen", "Address to listen on (default 127.0.0.1).", "ADDR", "127.0.0.1"};
    QCommandLineOption user{"user", "Add an account (repeatable).", "EMAIL:PASSWORD"};
    QCommandLineOption credit{"credit", "Starting credit of every account (default 100).", "N", "100"};
    QCommandLineOption maxBody{"max-body", "Refuse request bodies above BYTES with 413 (default 2147483648).", "BYTES"};
    QCommandLineOption dataDir{"data-dir", "Keep uploads and results in DIR (default: a temporary folder removed at exit).", "DIR"};
    QCommandLineOption stepMs{"step-ms", "Hold each job status and progress step for at least MS milliseconds (default 100).", "MS", "100"};
    QCommandLineOption progress{"progress-points", "Comma-separated rising percentages a processing job reports (default 20,40,60,80,100).", "LIST"};
    QCommandLineOption workers{"workers", "Number of jobs processed at the same time (default 2).", "N", "2"};
    QCommandLineOption tlsCert{"tls-cert", "Serve HTTPS with this PEM certificate (needs --tls-key).", "FILE"};
    QCommandLineOption tlsKey{"tls-key", "PEM private key for --tls-cert.", "FILE"};
    QCommandLineOption rejectUploads{"reject-uploads", "Fault: answer every upload with 415."};
    QCommandLineOption failJobs{"fail-jobs", "Fault: every job ends in status 11 (failed)."};
    QCommandLineOption stall{"stall", "Fault: answer requests matching PATTERN only after SECONDS (repeatable).", "PATTERN:SECONDS"};
    QCommandLineOption dropResultAfter{"drop-result-after", "Fault: close the connection after BYTES of a result body.", "BYTES"};
    QCommandLineOption dropAfterUpload{"drop-after-upload", "Fault: close the connection after receiving an upload, without answering and without creating a job."};
    QCommandLineOption emptyPresets{"empty-presets", "Fault: answer an empty preset list."};
    QCommandLineOption mixedPresets{"mixed-presets", "Fault: put non-object elements (a number, a text, null, a list) between the presets of the list."};
    QCommandLineOption malformedJson{"malformed-json", "Fault: answer cut-off JSON on requests matching PATTERN ('*' for all; repeatable).", "PATTERN"};
    QCommandLineOption expireToken{"expire-token-after", "Fault: a token stops working after N authorised requests.", "N"};
    QCommandLineOption unavailable{"unavailable", "Fault: answer the first COUNT requests matching PATTERN with 503 and Retry-After: SECONDS (repeatable).", "PATTERN:COUNT:SECONDS"};
    QCommandLineOption redirect{"redirect", "Fault: answer requests matching PATTERN with a 307 redirect to the same path on PORT of this host (repeatable).", "PATTERN:PORT"};
    QCommandLineOption refusePolls{"refuse-polls", "Fault: answer every job status request (GET /Jobs/{id}) with 401 while log-ins still succeed."};
    QCommandLineOption restartAtResult{"restart-at-result", "Fault: the first result request finds the service going down: every job is forgotten, ids start again at the first id (as after a restart), and the answer breaks off after its header."};
    QCommandLineOption sameToken{"same-token", "Fault: every log-in of an account gets the same token back."};
    QCommandLineOption endless{"endless", "Fault: answer requests matching PATTERN with a chunked 200 answer whose chunks never end (repeatable).", "PATTERN"};
    QCommandLineOption endlessHeaders{"endless-headers", "Fault: answer requests matching PATTERN with a 200 status line followed by header lines that never end (repeatable).", "PATTERN"};
    QCommandLineOption drip{"drip", "Fault: write the JSON answers to requests matching PATTERN one byte every MS milliseconds (repeatable).", "PATTERN:MS"};
    QCommandLineOption firstJobId{"first-job-id", "Number the jobs from N on (default 1). A service started again with the default reuses the ids of the one before, as a restart that loses its jobs does.", "N", "1"};
    QCommandLineOption unusualAnswers{"unusual-answers", "Fault: answer in forms a service may use although this one does not by default: JSON after a byte-order mark, indented, deflate-compressed, with a charset in its type, unknown fields and nulls; ids as texts; a new job as 201 Created; a result as application/octet-stream; Retry-After as an HTTP date."};
    QCommandLineOption chaos{"chaos", "Fault: PERCENT in a hundred requests, drawn by a generator seeded with SEED, meet a random fault of their endpoint: a stall of 1 to 4 s, an expired token (401), a connection dropped after an upload, 415, a failed job, a result cut off half-way.", "SEED:PERCENT"};

    QList<QCommandLineOption> all() const
    {
        return {port, listen, user, credit, maxBody, dataDir, stepMs, progress, workers, tlsCert, tlsKey,
                rejectUploads, failJobs, stall, dropResultAfter, dropAfterUpload, emptyPresets,
                mixedPresets, malformedJson, expireToken, chaos, firstJobId, unavailable, redirect, refusePolls, restartAtResult, sameToken, endless, endlessHeaders, drip, unusualAnswers};
    }
};

bool readNumbers(const QCommandLineParser& parser, const OptionSet& o, ServiceOptions& options, QString& error)
{
    qint64 value = 0;
    if (!parseNumber(parser.value(o.port), 0, value) || value > 65535) {
        error = "--port needs a number from 0 to 65535";
        return false;
    }
    options.port = quint16(value);
    if (!parseNumber(parser.value(o.credit), 0, options.credit)) {
        error = "--credit needs a number of 0 or more";
        return false;
    }
    if (parser.isSet(o.maxBody) && !parseNumber(parser.value(o.maxBody), 1, options.maxBodyBytes)) {
        error = "--max-body needs a positive number of bytes";
        return false;
    }
    if (!parseNumber(parser.value(o.stepMs), 0, value) || value > 600000) {
        error = "--step-ms needs a number of milliseconds from 0 to 600000";
        return false;
    }
    options.stepMs = int(value);
    if (!parseNumber(parser.value(o.workers), 1, value) || value > 16) {
        error = "--workers needs a number from 1 to 16";
        return false;
    }
    options.workers = int(value);
    if (parser.isSet(o.dropResultAfter) && !parseNumber(parser.value(o.dropResultAfter), 0, options.dropResultAfter)) {
        error = "--drop-result-after needs a number of bytes";
        return false;
    }
    if (!parseNumber(parser.value(o.firstJobId), 1, value) || value > 100000000) {
        error = "--first-job-id needs a number from 1 to 100000000";
        return false;
    }
    options.firstJobId = int(value);
    if (parser.isSet(o.chaos)) {
        const QStringList parts = parser.value(o.chaos).split(QLatin1Char(':'));
        qint64 seed = 0;
        qint64 percent = 0;
        if (parts.size() != 2 || !parseNumber(parts[0], 0, seed) || seed > UINT_MAX || !parseNumber(parts[1], 0, percent)
            || percent > 100) {
            error = "--chaos needs SEED:PERCENT, a seed of 0 or more and a percent from 0 to 100";
            return false;
        }
        options.chaosSeed = quint32(seed);
        options.chaosPercent = int(percent);
    }
    if (parser.isSet(o.expireToken)) {
        if (!parseNumber(parser.value(o.expireToken), 1, value) || value > INT_MAX) {
            error = "--expire-token-after needs a positive number";
            return false;
        }
        options.expireTokenAfter = int(value);
    }
    return true;
}

// Every value of a repeatable option, each parsed into a rule of `list`;
// false with the usage in `error` at the first value that does not parse.
template <typename Rule>
bool readRules(const QCommandLineParser& parser, const QCommandLineOption& option, bool (*parse)(const QString&, Rule&),
               QList<Rule>& list, const char* usage, QString& error)
{
    for (const QString& text : parser.values(option)) {
        Rule rule;
        if (!parse(text, rule)) {
            error = "--" + option.names().first() + " needs " + usage + ", got " + text;
            return false;
        }
        list.append(rule);
    }
    return true;
}

bool readLists(const QCommandLineParser& parser, const OptionSet& o, ServiceOptions& options, QString& error)
{
    if (!readRules(parser, o.user, parseAccount, options.accounts, "EMAIL:PASSWORD", error)
        || !readRules(parser, o.stall, parseStall, options.stalls, "PATTERN:SECONDS", error)
        || !readRules(parser, o.unavailable, parseUnavailable, options.unavailable, "PATTERN:COUNT:SECONDS", error)
        || !readRules(parser, o.redirect, parseRedirect, options.redirects, "PATTERN:PORT", error)
        || !readRules(parser, o.drip, parseDrip, options.drips, "PATTERN:MS", error))
        return false;
    for (const QString& text : parser.values(o.endless))
        options.endless.append(pathPattern(text));
    for (const QString& text : parser.values(o.endlessHeaders))
        options.endlessHeaders.append(pathPattern(text));
    for (const QString& text : parser.values(o.malformedJson))
        options.malformedJson.append(pathPattern(text == "all" ? QStringLiteral("*") : text));
    if (parser.isSet(o.progress) && !parseProgressPoints(parser.value(o.progress), options.progressPoints)) {
        error = "--progress-points needs rising percentages from 0 to 100, for example 40.4,99.6";
        return false;
    }
    return true;
}

} // namespace

QRegularExpression pathPattern(const QString& wildcard)
{
    QStringList pieces = wildcard.split(QLatin1Char('*'));
    for (QString& piece : pieces)
        piece = QRegularExpression::escape(piece);
    return QRegularExpression(QRegularExpression::anchoredPattern(pieces.join(".*")));
}

int ServiceOptions::stallSecondsFor(const QString& path) const
{
    for (const StallRule& rule : stalls) {
        if (rule.pattern.match(path).hasMatch())
            return rule.seconds;
    }
    return 0;
}

int ServiceOptions::dripMsFor(const QString& path) const
{
    for (const DripRule& rule : drips) {
        if (rule.pattern.match(path).hasMatch())
            return rule.intervalMs;
    }
    return 0;
}

bool ServiceOptions::malformedJsonFor(const QString& path) const
{
    for (const QRegularExpression& pattern : malformedJson) {
        if (pattern.match(path).hasMatch())
            return true;
    }
    return false;
}

bool parseServiceOptions(const QStringList& arguments, ServiceOptions& options, QString& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const OptionSet o;
    parser.addOptions(o.all());
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet("help"))
        parser.showHelp(0);
    if (parser.isSet("version"))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        error = "unexpected argument " + parser.positionalArguments().first();
        return false;
    }
    if (!options.listenAddress.setAddress(parser.value(o.listen))) {
        error = "--listen needs an IP address, got " + parser.value(o.listen);
        return false;
    }
    options.dataDir = parser.value(o.dataDir);
    options.tlsCertificate = parser.value(o.tlsCert);
    options.tlsKey = parser.value(o.tlsKey);
    if (options.tlsCertificate.isEmpty() != options.tlsKey.isEmpty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    options.rejectUploads = parser.isSet(o.rejectUploads);
    options.failJobs = parser.isSet(o.failJobs);
    options.dropAfterUpload = parser.isSet(o.dropAfterUpload);
    options.emptyPresets = parser.isSet(o.emptyPresets);
    options.mixedPresets = parser.isSet(o.mixedPresets);
    options.refusePolls = parser.isSet(o.refusePolls);
    options.restartAtResult = parser.isSet(o.restartAtResult);
    options.sameToken = parser.isSet(o.sameToken);
    options.unusualAnswers = parser.isSet(o.unusualAnswers);
    return readNumbers(parser, o, options, error) && readLists(parser, o, options, error);
}
