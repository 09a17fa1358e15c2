#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class LoudnessMeter;

// One file measured in the background: the meter is built and run on a
// thread of the job's own, so a file that cannot be opened or read fails the
// job (with the meter's reason) instead of the caller.
//
// Destroying a finished job joins its thread. Destroying one still at work
// abandons it: the thread is detached and keeps what it touches (the path,
// the meter, the results) to itself, so a file that never finishes opening
// (a stalled network share, a pipe) never holds the owner; the thread ends
// on its own when the file finally opens or fails, or with the process.
class MeterJob {
public:
    // `path` in UTF-8; the meter uses the class "K-weighting" and 0.4 s
    // blocks, collects its report (loudness range, true peak, ...) and its
    // loudness series when `withSeries`.
    MeterJob(const QByteArray& path, bool withSeries);
    ~MeterJob();
    MeterJob(const MeterJob&) = delete;
    MeterJob& operator=(const MeterJob&) = delete;

    // Starts the measurement; false when it was started before.
    bool start();
    // True once the measurement has ended, measured or failed.
    bool isDone() const { return m_state->done.load(); }
    bool isMeasured() const;
    // Why the file could not be measured; empty unless it failed.
    QString failure() const;
    // The meter with its results, once isMeasured(); null otherwise.
    const LoudnessMeter* meter() const;
    QByteArray filePath() const { return m_state->path; }

    // Free text for a viewer to remember what it has shown.
    QByteArray displayTag;

private:
    // What the thread touches; shared so that an abandoned thread outlives the job safely.
    struct State {
        QByteArray path;
        bool withSeries = false;
        std::unique_ptr<LoudnessMeter> meter;
        std::atomic<bool> done{false};
        std::atomic<bool> measured{false};
        mutable QMutex failureLock;
        QString failure;
    };
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_worker;
};
