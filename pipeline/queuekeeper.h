#pragma once

#include "pipeline/queuesaver.h"
#include "pipeline/storedfile.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QueueManager;

// Keeps queue.xml up to date. Every 50 ms, on the GUI thread, it looks at
// what a restart depends on most: which files are queued, their states and
// local steps, and the job each session has submitted. When any of these
// changed (a file got its job id, a step finished) the queue is saved at
// once, so that a client killed right after an upload polls that job after
// the restart instead of uploading the file again. Everything else (names,
// messages) is compared at most twice a second. Saving copies the queue
// (queuestore::take, cheap) and hands the copy to its QueueSaver when it
// differs from the last one saved. saveNow() at exit writes the final state
// and waits for it.
class QueueKeeper final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueKeeper)

public:
    static constexpr int kWatchIntervalMs = 50;
    static constexpr int kIntervalMs = 500;

    QueueKeeper(const QueueManager& manager, const QString& path);
    ~QueueKeeper() override;

    void start();
    // The records kept beside the files (the video jobs), asked at each check.
    void setRecords(std::function<QList<StoredRecord>()> records) { m_records = std::move(records); }
    // Hands the queue as it stands now to the saver if it changed.
    void saveChanges();
    // Saves the queue as it stands now and waits until it is on disk.
    void saveNow();
    // Copies handed to the saver so far; for tests.
    int saves() const { return m_saves; }

private:
    void watch();

    const QueueManager& m_manager;
    QueueSaver m_saver;
    QTimer m_timer;
    QElapsedTimer m_sinceCheck;
    std::vector<qint64> m_lastMarks;
    QList<StoredFile> m_lastSaved;
    std::function<QList<StoredRecord>()> m_records;
    QList<StoredRecord> m_lastRecords;
    bool m_savedOnce = false;
    int m_saves = 0;
};
