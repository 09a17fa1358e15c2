#pragma once

#include "pipeline/queuesaver.h"
#include "pipeline/storedfile.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QueueManager;

// Keeps queue.xml up to date: twice a second, on the GUI thread, it copies
// the queue (queuestore::take, cheap) and, when the copy differs from the
// last one saved, hands it to its QueueSaver. So every change reaches the
// file within a second. saveNow() at exit writes the final state and waits
// for it.
class QueueKeeper final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueKeeper)

public:
    static constexpr int kIntervalMs = 500;

    QueueKeeper(const QueueManager& manager, const QString& path);
    ~QueueKeeper() override;

    void start();
    // Saves the queue as it stands now and waits until it is on disk.
    void saveNow();

private:
    void check();

    const QueueManager& m_manager;
    QueueSaver m_saver;
    QTimer m_timer;
    QList<StoredFile> m_lastSaved;
    bool m_savedOnce = false;
};
