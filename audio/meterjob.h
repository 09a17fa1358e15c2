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
// job (with the meter's reason) instead of the caller. The destructor joins
// the thread.
class MeterJob {
public:
    // `path` in UTF-8; the meter uses the class "K-weighting" and 0.4 s
    // blocks, and collects its loudness series when `withSeries`.
    MeterJob(const QByteArray& path, bool withSeries);
    ~MeterJob();
    MeterJob(const MeterJob&) = delete;
    MeterJob& operator=(const MeterJob&) = delete;

    // Starts the measurement; false when it was started before.
    bool start();
    // True once the measurement has ended, measured or failed.
    bool isDone() const { return m_done.load(); }
    bool isMeasured() const;
    // Why the file could not be measured; empty unless it failed.
    QString failure() const;
    // The meter with its results, once isMeasured(); null otherwise.
    const LoudnessMeter* meter() const;
    QByteArray filePath() const { return m_path; }

    // Free text for a viewer to remember what it has shown.
    QByteArray displayTag;

private:
    void run();

    QByteArray m_path;
    bool m_withSeries;
    std::unique_ptr<LoudnessMeter> m_meter;
    std::thread m_worker;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_measured{false};
    mutable QMutex m_failureLock;
    QString m_failure;
};
