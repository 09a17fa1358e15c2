#include "pipeline/jobinfo.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// A number with a fraction counts by its whole part (a credit of 99.5 is
// 99, not nothing); one beyond the range of int is held at its end.
int intOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = std::trunc(value.toDouble());
    if (std::isnan(number))
        return 0;
    return int(std::clamp<double>(number, INT_MIN, INT_MAX));
}

double doubleOf(const QJsonValue& value)
{
    return value.isDouble() ? value.toDouble() : 0;
}

QByteArray textOf(const QJsonValue& value)
{
    return value.isString() ? value.toString().toUtf8() : QByteArray();
}

} // namespace

const QMap<int, QByteArray>& JobInfo::statusNames()
{
    static const QMap<int, QByteArray> names{
        {0, "Unknown"},
        {2, "Rejected"},
        {3, "Accepted"},
        {4, "Offered"},
        {5, "Accepted by Processor"},
        {6, "Processing"},
        {7, "Uploading"},
        {8, "Ready"},
        {9, "No Longer Available"},
        {10, "Deleted"},
        {11, "Failed"},
        {12, "Insufficient Credit"},
    };
    return names;
}

JobInfo JobInfo::fromJson(const QJsonObject& object)
{
    JobInfo job;
    job.id = intOf(object.value("id"));
    job.name = textOf(object.value("name"));
    job.status = intOf(object.value("status"));
    job.percentComplete = doubleOf(object.value("percentComplete"));
    job.created = textOf(object.value("created"));
    job.modified = textOf(object.value("modified"));
    job.duration = doubleOf(object.value("duration"));
    job.cost = intOf(object.value("cost"));
    job.audioPresetName = textOf(object.value("audioPresetName"));
    const QJsonObject owner = object.value("owner").toObject();
    job.ownerId = intOf(owner.value("id"));
    job.ownerName = textOf(owner.value("name"));
    job.ownerEmail = textOf(owner.value("email"));
    job.ownerCredit = intOf(owner.value("credit"));
    return job;
}

QByteArray JobInfo::statusText() const
{
    QByteArray text = statusNames().value(status);
    if (status == 6 || status == 7)
        text += ' ' + QByteArray::number(std::lround(percentComplete)) + '%';
    return text;
}
