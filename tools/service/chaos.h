#pragma once

#include <QMutex>
#include <QRandomGenerator>
#include <QString>

// The seeded random faults of --chaos SEED:PERCENT. Every request below /api
// draws from one generator, seeded with SEED, whether it meets a fault
// (PERCENT in a hundred) and which of the faults its endpoint can have:
//  - any request: held for one to four seconds before the answer;
//  - any request with a bearer token: 401, and the token stops working;
//  - an upload: the connection closed once the upload has arrived, without
//    an answer and without a job; a 415 answer; a job that fails (status 11);
//  - a result download: the connection closed half-way through the body.
// The same seed and the same order of requests give the same faults. Draws
// come from the HTTP thread only, but the generator is guarded anyway.
class Chaos {
public:
    enum class Fault { None, Stall, ExpiredToken, DropAfterUpload, Reject415, FailJob, CutResult };

    Chaos() = default;
    Chaos(quint32 seed, int percent);

    bool enabled() const { return percent_ > 0; }
    // The fault for one request to `path` (below /api, for example "/Jobs").
    Fault draw(const QString& path);
    // How long a stalled request is held, drawn anew for each stall.
    int stallMs();

    static const char* name(Fault fault);

private:
    QMutex mutex_;
    QRandomGenerator random_;
    int percent_ = 0;
};
