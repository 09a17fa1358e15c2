#include "apiroutes.h"

#include "accountbook.h"
#include "audioprobe.h"
#include "jobbook.h"
#include "jobrunner.h"
#include "multipartform.h"
#include "presetcatalog.h"
#include "requestshape.h"
#include "serviceoptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace {

enum class Route { Login, Presets, Jobs, Job, Result, Unknown };

Route routeOf(const QString& path, int& jobId)
{
    static const QRegularExpression jobPath(QStringLiteral("^/Jobs/(\\d{1,9})(/Result)?$"));
    if (path == QLatin1String("/Login"))
        return Route::Login;
    if (path == QLatin1String("/AudioPresets"))
        return Route::Presets;
    if (path == QLatin1String("/Jobs"))
        return Route::Jobs;
    const QRegularExpressionMatch match = jobPath.match(path);
    if (!match.hasMatch())
        return Route::Unknown;
    jobId = match.captured(1).toInt();
    return match.capturedLength(2) > 0 ? Route::Result : Route::Job;
}

QByteArray methodOf(Route route)
{
    return route == Route::Login || route == Route::Jobs ? "POST" : "GET";
}

// A job costs one credit per started minute of audio, at least one.
qint64 costOf(double seconds)
{
    return qMax<qint64>(1, qint64(std::ceil(seconds / 60.0)));
}

// The uploaded file's name as the job shows it: no folders, no control characters.
QString jobName(const QString& fileName)
{
    QString name = QFileInfo(QString(fileName).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    name.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]")));
    return name.isEmpty() ? QStringLiteral("upload") : name;
}

bool writeUpload(const QString& path, QByteArrayView data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data.data(), data.size()) == data.size()
           && file.flush();
}

// Elements a client must skip in a preset list: every kind of JSON value
// but an object.
void appendNonObjects(QJsonArray& list, int id)
{
    for (const QJsonValue& odd : {QJsonValue(id), QJsonValue(QString::number(id)), QJsonValue(),
                                  QJsonValue(QJsonArray{id})})
        list.append(odd);
}

// The time `seconds` from now as an HTTP date (IMF-fixdate).
QByteArray httpDateIn(int seconds)
{
    const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(seconds);
    return QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

// What a service may add to its objects: fields the client does not know
// and values left null.
void addUnknownFields(QJsonObject& object)
{
    object.insert("links", QJsonObject{{"self", QJsonValue()}});
    object.insert("description", QJsonValue());
}

} // namespace

ApiRoutes::ApiRoutes(const ServiceOptions& options, AccountBook& accounts, JobBook& jobs, JobRunner& runner,
                     const PresetCatalog& presets, const QString& uploadDir)
    : options_(options), accounts_(accounts), jobs_(jobs), runner_(runner), presets_(presets), uploadDir_(uploadDir)
{
    for (qsizetype i = 0; i < options.unavailable.size(); ++i)
        unavailableServed_.append(std::make_shared<std::atomic<int>>(0));
}

bool ApiRoutes::injectedFault(const ApiRequest& request, ApiReply& reply)
{
    for (qsizetype i = 0; i < options_.unavailable.size(); ++i) {
        const UnavailableRule& rule = options_.unavailable.at(i);
        if (rule.pattern.match(request.path).hasMatch() && (*unavailableServed_.at(i))++ < rule.count) {
            reply = ApiReply::error(503, "Service unavailable (fault mode)");
            reply.headers.append({"Retry-After", options_.unusualAnswers
                                                     ? httpDateIn(rule.retryAfterSeconds)
                                                     : QByteArray::number(rule.retryAfterSeconds)});
            return true;
        }
    }
    for (const RedirectRule& rule : options_.redirects) {
        if (rule.pattern.match(request.path).hasMatch()) {
            reply = ApiReply::error(307, "Moved (fault mode)");
            reply.headers.append(
                {"Location", "http://127.0.0.1:" + QByteArray::number(rule.port) + "/api" + request.path.toUtf8()});
            return true;
        }
    }
    return false;
}

ApiReply ApiRoutes::handle(const ApiRequest& request)
{
    ApiReply injected;
    if (injectedFault(request, injected))
        return injected;
    int jobId = 0;
    const Route route = routeOf(request.path, jobId);
    if (route == Route::Unknown)
        return ApiReply::error(404, "No such endpoint");
    if (request.method != methodOf(route))
        return ApiReply::error(405, "Method not allowed");
    const QString misshapen = route == Route::Login ? requestshape::logIn(request)
        : route == Route::Result                   ? requestshape::resultRequest(request)
        : route == Route::Jobs                     ? QString()
                                                   : requestshape::jsonRequest(request);
    if (!misshapen.isEmpty())
        return ApiReply::error(400, misshapen);
    if (route == Route::Login)
        return logIn(request);
    const int accountId = authorise(request);
    if (accountId != 0 && request.fault == Chaos::Fault::ExpiredToken)
        accounts_.expire(QString::fromUtf8(request.header("Authorization").mid(7).trimmed()));
    if (accountId == 0 || request.fault == Chaos::Fault::ExpiredToken)
        return ApiReply::error(401, "Missing, unknown or expired bearer token");
    if (route == Route::Job && options_.refusePolls)
        return ApiReply::error(401, "Job status refused (fault mode)");
    switch (route) {
    case Route::Presets:
        return presetList();
    case Route::Jobs:
        return submitJob(request, accountId);
    case Route::Job:
        return jobStatus(jobId, accountId);
    default:
        return jobResult(jobId, accountId);
    }
}

int ApiRoutes::authorise(const ApiRequest& request)
{
    const QByteArray value = request.header("Authorization");
    if (!value.startsWith("Bearer "))
        return 0;
    return accounts_.authorise(QString::fromUtf8(value.mid(7).trimmed()));
}

ApiReply ApiRoutes::logIn(const ApiRequest& request)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
    const QJsonValue email = document.object().value("email");
    const QJsonValue password = document.object().value("password");
    if (!document.isObject() || !email.isString() || !password.isString())
        return ApiReply::error(400, "Log-in needs a JSON object with \"email\" and \"password\"");
    const QString token = accounts_.logIn(email.toString(), password.toString());
    if (token.isEmpty())
        return ApiReply::error(401, "Invalid e-mail address or password");
    return ApiReply::ok(QJsonObject{{"token", token}});
}

ApiReply ApiRoutes::presetList() const
{
    QJsonArray list;
    if (!options_.emptyPresets) {
        for (const Preset& preset : presets_.all()) {
            if (options_.mixedPresets)
                appendNonObjects(list, preset.id);
            QJsonObject entry{{"id", preset.id}, {"name", preset.name}};
            if (options_.unusualAnswers) {
                entry.insert("id", QString::number(preset.id));
                addUnknownFields(entry);
            }
            list.append(entry);
        }
    }
    return ApiReply::ok(QJsonObject{{"presets", list}});
}

ApiReply ApiRoutes::submitJob(const ApiRequest& request, int accountId)
{
    if (options_.dropAfterUpload || request.fault == Chaos::Fault::DropAfterUpload)
        return ApiReply::drop();
    MultipartForm form;
    if (!form.parse(request.header("Content-Type"), request.body))
        return ApiReply::error(400, form.error());
    const QString misshapen = requestshape::uploadForm(form);
    if (!misshapen.isEmpty())
        return ApiReply::error(400, misshapen);
    const FormPart* file = form.part("file");
    bool numeric = false;
    const int presetId = form.data(*form.part("presetId")).toByteArray().toInt(&numeric);
    const Preset* preset = numeric ? presets_.find(presetId) : nullptr;
    if (!preset)
        return ApiReply::error(400, "Unknown presetId");
    const QByteArray accept = form.data(*form.part("acceptAnyway")).toByteArray();
    const QString wrongType = requestshape::uploadType(form);
    if (!wrongType.isEmpty())
        return ApiReply::error(415, wrongType);
    if (options_.rejectUploads || request.fault == Chaos::Fault::Reject415)
        return ApiReply::error(415, "Uploads are refused (fault mode)");

    const QString path = QDir(uploadDir_).filePath(QString::number(++uploadCounter_) + ".upload");
    if (!writeUpload(path, form.data(*file))) {
        QFile::remove(path);
        return ApiReply::error(500, "Cannot store the upload");
    }
    AudioFacts facts;
    QString reason;
    if (!probeAudio(path, facts, reason)) {
        QFile::remove(path);
        return ApiReply::error(415, "Not a decodable audio file: " + reason);
    }
    Job job;
    job.ownerId = accountId;
    job.name = jobName(file->fileName);
    job.presetId = preset->id;
    job.presetName = preset->name;
    job.acceptAnyway = accept == "true";
    job.duration = facts.durationSeconds;
    job.cost = costOf(facts.durationSeconds);
    job.inputPath = path;
    job.failOnPurpose = request.fault == Chaos::Fault::FailJob;
    const int id = jobs_.add(job);
    runner_.start(id);
    if (!options_.unusualAnswers)
        return ApiReply::ok(QJsonObject{{"id", id}});
    ApiReply created = ApiReply::ok(QJsonObject{{"id", QString::number(id)}, {"status", jobstatus::Accepted}});
    addUnknownFields(created.json);
    created.status = 201;
    created.headers.append({"Location", "/api/Jobs/" + QByteArray::number(id)});
    return created;
}

ApiReply ApiRoutes::jobStatus(int jobId, int accountId) const
{
    const std::optional<Job> job = jobs_.find(jobId);
    if (!job || job->ownerId != accountId)
        return ApiReply::error(404, "No such job");
    QJsonObject json = job->toJson();
    json.insert("owner", accounts_.ownerJson(accountId));
    if (options_.unusualAnswers)
        addUnknownFields(json);
    return ApiReply::ok(json);
}

ApiReply ApiRoutes::jobResult(int jobId, int accountId)
{
    const std::optional<Job> job = jobs_.find(jobId);
    if (!job || job->ownerId != accountId)
        return ApiReply::error(404, "No such job");
    if (job->status != jobstatus::Ready || job->resultPath.isEmpty())
        return ApiReply::error(404, "The result is not ready");
    ApiReply reply = ApiReply::file(job->resultPath, QFileInfo(job->name).completeBaseName() + ".wav");
    if (options_.restartAtResult && !restarted_.exchange(true)) {
        jobs_.forgetAll();
        reply.cutAfter = 0;
    }
    return reply;
}
