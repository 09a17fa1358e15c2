#pragma once

#include <QByteArray>
#include <QString>

struct JobInfo;

// What the client sent as a job. A service that was started again may give
// an old job id to another upload; the job's own answer is therefore checked
// against what this file sent before its result is taken, so that another
// file's result is never saved as this one's.
struct JobExpectation {
    // Name of the uploaded file, without folders; empty when not known.
    QByteArray fileName;
    // Name of the preset, without its id; empty when not known.
    QByteArray presetName;
    // Length of the uploaded audio in seconds; below 0 when not known.
    double seconds = -1;
    // The job's id and its `created` time as its first status answer gave
    // them; 0 and empty until then. A service started anew that hands the id
    // to another upload of the same name, preset and length is told apart
    // by its creation time.
    int jobId = 0;
    QByteArray created;

    // The expectation of an upload of `path` with the preset entry
    // "<id>: <name>"; the length is read from the file when it can be.
    static JobExpectation of(const QString& path, const QByteArray& presetEntry);

    // Empty when the job agrees, otherwise what differs, for the log. A job
    // differs when its id or creation time differ from those its first
    // answer gave, when it names another preset, or when both its name and
    // its length differ from the file's. A service is free in how it names a
    // job (and may rename it as it goes) and in what its duration counts, so
    // neither alone tells another file's job; a value the answer leaves out
    // is never a difference.
    QByteArray differenceFrom(const JobInfo& job) const;
    // Keeps the id and creation time of the job's first answer.
    void recordFirstAnswer(const JobInfo& job);
};
