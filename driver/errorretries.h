#pragma once

#include "pipeline/retrybackoff.h"

#include <QHash>
#include <QList>

class QueueCommands;
class QueueFile;

// Submits files in Error again where nobody is there to press "Submit
// again", when the cause of the error can pass: no credit left, an output
// folder that could not be written, trouble at the service (a job kept after
// its requests failed for too long, a job the service forgot). At the start
// each such file is submitted again at once; later, when its cause is seen
// to clear: the credit rose, the output folder can be written, the service
// takes requests (logged in). Each file's tries are spaced by the back-off
// (1 s, 2 s ... 60 s). Other errors stay for a person. Main thread only.
class ErrorRetries {
public:
    enum class Cause { None, Credit, OutputFolder, Service };
    // Why a file is in Error, as far as it can pass; None for a file not in
    // Error or in Error for good.
    static Cause causeOf(const QueueFile& file);

    explicit ErrorRetries(QueueCommands& commands);

    // Submits again every file whose cause can pass; how many.
    int retryAll(const QList<QueueFile*>& files);
    // One look at the files: `credit` is the account's last known credit
    // (-1 when not known), `serviceUp` whether the service takes requests.
    void tick(const QList<QueueFile*>& files, float credit, bool serviceUp);

private:
    bool cleared(const QueueFile& file, Cause cause, bool serviceUp) const;

    QueueCommands& m_commands;
    // Each file's spacing of tries, by file id.
    QHash<int, RetryBackoff> m_backoffs;
    float m_credit = -1;
    // The credit rose since the files short of it were last submitted.
    bool m_creditRose = false;
};
