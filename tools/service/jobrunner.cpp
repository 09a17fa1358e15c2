#include "jobrunner.h"

#include "accountbook.h"
#include "jobbook.h"
#include "presetcatalog.h"
#include "presetprocessor.h"
#include "serviceoptions.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace {

constexpr int kHoldSliceMs = 10;

} // namespace

JobRunner::JobRunner(const ServiceOptions& options, AccountBook& accounts, JobBook& jobs,
                     const PresetCatalog& presets, const QString& resultDir)
    : options_(options), accounts_(accounts), jobs_(jobs), presets_(presets), resultDir_(resultDir)
{
    pool_.setMaxThreadCount(options.workers);
}

JobRunner::~JobRunner()
{
    stopping_ = true;
    pool_.clear();
    pool_.waitForDone();
}

void JobRunner::start(int jobId)
{
    pool_.start([this, jobId] { run(jobId); });
}

bool JobRunner::hold()
{
    QDeadlineTimer deadline(options_.stepMs);
    while (!deadline.hasExpired()) {
        if (stopping_)
            return false;
        QThread::msleep(qMin<qint64>(kHoldSliceMs, qMax<qint64>(1, deadline.remainingTime())));
    }
    return !stopping_;
}

void JobRunner::run(int jobId)
{
    if (!hold())
        return;
    jobs_.setProgress(jobId, jobstatus::Offered, 0);
    if (!hold())
        return;
    jobs_.setProgress(jobId, jobstatus::AcceptedByProcessor, 0);
    if (!hold())
        return;
    // A job forgotten meanwhile (a service restart of the fault modes) ends here.
    const std::optional<Job> found = jobs_.find(jobId);
    if (!found)
        return;
    const Job job = *found;
    if (!accounts_.charge(job.ownerId, job.cost)) {
        jobs_.setProgress(jobId, jobstatus::InsufficientCredit, 0);
        qInfo().noquote() << "job" << jobId << "needs" << job.cost << "credit: insufficient credit";
        return;
    }
    jobs_.setProgress(jobId, jobstatus::Processing, 0);
    if (hold() && process(jobId)) {
        jobs_.setProgress(jobId, jobstatus::Ready, 100);
        qInfo().noquote() << "job" << jobId << "ready";
        return;
    }
    accounts_.refund(job.ownerId, job.cost);
    const std::optional<Job> failed = jobs_.find(jobId);
    if (!stopping_ && failed)
        jobs_.setProgress(jobId, jobstatus::Failed, failed->percentComplete);
}

bool JobRunner::process(int jobId)
{
    const std::optional<Job> found = jobs_.find(jobId);
    if (!found)
        return false;
    const Job job = *found;
    const Preset* preset = presets_.find(job.presetId);
    const QList<double>& points = options_.progressPoints;
    qsizetype reported = 0;
    // Publishes every progress point the work has passed, each held for the pace.
    auto report = [&](double fraction) {
        while (reported < points.size() && fraction * 100.0 >= points.at(reported)) {
            jobs_.setProgress(jobId, jobstatus::Processing, points.at(reported++));
            if (!hold())
                return false;
        }
        return !stopping_.load();
    };
    if (options_.failJobs || job.failOnPurpose) {
        report(points.isEmpty() ? 0.0 : points.first() / 100.0);
        qInfo().noquote() << "job" << jobId << "failed: failing jobs on purpose";
        return false;
    }
    const QString output = QDir(resultDir_).filePath(QString::number(jobId) + ".wav");
    PresetProcessor processor(*preset, report);
    if (!processor.process(job.inputPath, output) || !report(1.0)) {
        if (!stopping_)
            qInfo().noquote() << "job" << jobId << "failed:" << processor.error();
        QFile::remove(output);
        return false;
    }
    jobs_.setResult(jobId, output);
    return true;
}
