#include "chaos.h"

#include <QRegularExpression>

#include <vector>

namespace {

constexpr int kShortestStallMs = 1000;
constexpr int kLongestStallMs = 4000;

std::vector<Chaos::Fault> faultsFor(const QString& path)
{
    static const QRegularExpression resultPath(QStringLiteral("^/Jobs/\\d+/Result$"));
    using F = Chaos::Fault;
    if (path == QLatin1String("/Login"))
        return {F::Stall};
    if (path == QLatin1String("/Jobs"))
        return {F::Stall, F::ExpiredToken, F::DropAfterUpload, F::Reject415, F::FailJob};
    if (resultPath.match(path).hasMatch())
        return {F::Stall, F::ExpiredToken, F::CutResult};
    return {F::Stall, F::ExpiredToken};
}

} // namespace

Chaos::Chaos(quint32 seed, int percent)
    : random_(seed), percent_(percent)
{
}

Chaos::Fault Chaos::draw(const QString& path)
{
    if (percent_ <= 0)
        return Fault::None;
    const std::vector<Fault> faults = faultsFor(path);
    QMutexLocker lock(&mutex_);
    if (int(random_.bounded(100)) >= percent_)
        return Fault::None;
    return faults[random_.bounded(quint32(faults.size()))];
}

int Chaos::stallMs()
{
    QMutexLocker lock(&mutex_);
    return kShortestStallMs + int(random_.bounded(quint32(kLongestStallMs - kShortestStallMs + 1)));
}

const char* Chaos::name(Fault fault)
{
    switch (fault) {
    case Fault::None: return "none";
    case Fault::Stall: return "stall";
    case Fault::ExpiredToken: return "expired token";
    case Fault::DropAfterUpload: return "connection dropped after the upload";
    case Fault::Reject415: return "415";
    case Fault::FailJob: return "failed job";
    case Fault::CutResult: return "result cut off";
    }
    return "unknown";
}
