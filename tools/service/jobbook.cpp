#include "jobbook.h"

#include <QMutexLocker>

QJsonObject Job::toJson() const
{
    return QJsonObject{{"id", id},
                       {"name", name},
                       {"status", status},
                       {"percentComplete", percentComplete},
                       {"created", created.toString(Qt::ISODateWithMs)},
                       {"modified", modified.toString(Qt::ISODateWithMs)},
                       {"duration", duration},
                       {"cost", double(cost)},
                       {"audioPresetName", presetName}};
}

int JobBook::add(Job job)
{
    QMutexLocker lock(&mutex_);
    job.id = ++lastId_;
    job.created = QDateTime::currentDateTimeUtc();
    job.modified = job.created;
    jobs_.insert(job.id, job);
    return job.id;
}

std::optional<Job> JobBook::find(int id) const
{
    QMutexLocker lock(&mutex_);
    auto it = jobs_.constFind(id);
    if (it == jobs_.constEnd())
        return std::nullopt;
    return *it;
}

void JobBook::forgetAll()
{
    QMutexLocker lock(&mutex_);
    jobs_.clear();
    lastId_ = firstId_ - 1;
}

void JobBook::setProgress(int id, int status, double percentComplete)
{
    QMutexLocker lock(&mutex_);
    if (!jobs_.contains(id))
        return;
    Job& job = jobs_[id];
    job.status = status;
    job.percentComplete = percentComplete;
    job.modified = QDateTime::currentDateTimeUtc();
}

void JobBook::setResult(int id, const QString& resultPath)
{
    QMutexLocker lock(&mutex_);
    if (jobs_.contains(id))
        jobs_[id].resultPath = resultPath;
}
