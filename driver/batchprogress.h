#pragma once

#include "driver/batchfigures.h"
#include "pipeline/queuefilestate.h"

#include <QHash>
#include <QList>
#include <QSet>

class QueueFile;

// Keeps the batch figures from the queue as the queue tick sees it. A batch
// begins when a file waits or runs while none did, takes in every file that
// waits or runs until all of them have finished, and is told of until its
// files have all left the queue. A file paused, cancelled or removed leaves
// the batch; one submitted again counts once, by its latest outcome. The time
// left comes from the files finished so far: the batch's time up to the
// last of them, per finished file, times the files still to finish, less
// the time since that file finished.
class BatchProgress {
public:
    // The queue in its order at `nowMs` (any steady clock in milliseconds).
    BatchFigures update(const QList<QueueFile*>& files, qint64 nowMs);
    const BatchFigures& figures() const { return m_figures; }
    // The driver lets go of a finished file (for a front end that keeps
    // none): unlike a file the user removed, it stays one of the batch.
    void released(int fileId);

    // How much of its way through the pipeline a file has come, from 0 to 1.
    static double shareDone(const QueueFile& file);

private:
    struct Member {
        double share = 0;
        QueueFileState state = QueueFileState::Waiting;
    };
    void takeIn(const QueueFile& file, qint64 nowMs);
    void leaveGone(const QSet<int>& present);
    BatchFigures count(qint64 nowMs) const;

    QHash<int, Member> m_members;
    // Every file id seen so far; a file first seen already finished is not
    // one of the batch when it was there at the first look (a queue taken
    // up from the last run).
    QSet<int> m_seen;
    QSet<int> m_released;
    bool m_firstLook = true;
    bool m_running = false;
    qint64 m_startMs = 0;
    qint64 m_lastFinishMs = 0;
    int m_finishedBefore = 0;
    BatchFigures m_figures;
};
