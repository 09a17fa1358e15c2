// The Web API client's reading of what the service sends: the log-in,
// preset-list and job replies, a Retry-After value and a downloaded result's
// WAV header, all from the same bytes.
#include "fuzzentry.h"
#include "pipeline/jobexpectation.h"
#include "pipeline/jobinfo.h"
#include "pipeline/wavcheck.h"
#include "pipeline/webreplies.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray input = fuzzing::bytes(data, size);
    (void)webreplies::retryAfterMs(input.left(64), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    QBuffer result(&input);
    if (result.open(QIODevice::ReadOnly)) {
        QString why;
        (void)wavcheck::isWhole(result, why);
    }
    QJsonObject reply;
    if (!webreplies::objectOf(input, reply))
        return 0;
    (void)webreplies::loginToken(reply);
    int id = 0;
    (void)webreplies::idOf(reply.value("id"), id);
    QList<QByteArray> presets;
    webreplies::presetEntries(reply, presets);
    const JobInfo job = JobInfo::fromJson(reply);
    (void)job.statusText();
    JobExpectation expected;
    expected.fileName = "take.wav";
    expected.presetName = "Speech";
    expected.seconds = 12.0;
    (void)expected.differenceFrom(job);
    return 0;
}
