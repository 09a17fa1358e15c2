// The service's request router and endpoints, on a service of its own with
// the demo account. Input: "METHOD PATH" on the first line, then header
// lines "Name: value" up to an empty line, then the body. "{token}" in a
// header stands for a token of the demo account, so the fuzzer reaches the
// endpoints behind the log-in. Each input gets a service of its own: a
// finding then replays from its one input, and the jobs and result files of
// millions of runs do not pile up.
#include "accountbook.h"
#include "apiroutes.h"
#include "fuzzentry.h"
#include "jobbook.h"
#include "jobrunner.h"
#include "presetcatalog.h"
#include "serviceoptions.h"

#include <QTemporaryDir>

namespace {

// Jobs run without pauses, so that submitted jobs do not pile up.
ServiceOptions quickOptions()
{
    ServiceOptions options;
    options.stepMs = 0;
    return options;
}

struct Service {
    QTemporaryDir dir;
    ServiceOptions options = quickOptions();
    PresetCatalog presets;
    AccountBook accounts{options.accounts, options.credit, options.expireTokenAfter};
    JobBook jobs;
    JobRunner runner{options, accounts, jobs, presets, dir.path()};
    ApiRoutes routes{options, accounts, jobs, runner, presets, dir.path()};
    QByteArray token = accounts.logIn(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword)).toUtf8();
};

ApiRequest requestOf(const QByteArray& input, const QByteArray& token)
{
    ApiRequest request;
    const qsizetype headEnd = input.indexOf("\n\n");
    const QList<QByteArray> lines = input.left(headEnd < 0 ? input.size() : headEnd).split('\n');
    const QByteArray first = lines.value(0);
    const qsizetype space = first.indexOf(' ');
    request.method = first.left(space < 0 ? first.size() : space);
    request.path = QString::fromUtf8(space < 0 ? QByteArray() : first.mid(space + 1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon), lines[i].mid(colon + 1).trimmed().replace("{token}", token)});
    }
    request.body = headEnd < 0 ? QByteArray() : input.mid(headEnd + 2);
    return request;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Service service;
    (void)service.routes.handle(requestOf(fuzzing::bytes(data, size), service.token));
    return 0;
}
