// The Web API client's reading of the service's log-in, preset-list and job
// replies, all from the same body.
#include "fuzzentry.h"
#include "pipeline/jobinfo.h"
#include "pipeline/webreplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QJsonObject reply;
    if (!webreplies::objectOf(fuzzing::bytes(data, size), reply))
        return 0;
    (void)webreplies::loginToken(reply);
    QList<QByteArray> presets;
    webreplies::presetEntries(reply, presets);
    (void)JobInfo::fromJson(reply).statusText();
    return 0;
}
