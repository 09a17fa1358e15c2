#pragma once

#include "settings/processingoptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QueueFile;
class QueueManager;
struct FileActions;

// One file a person asks to queue: its source, its destination (a name
// template such as "{presetName}" is expanded), preset and options.
struct FileRequest {
    QString source;
    QString destination;
    QString preset;
    ProcessingOptions options;
};

// Why a file was not queued.
struct Refusal {
    enum class Reason {
        // The destination cannot be written (no folder, read-only, ...).
        Destination,
        // The queue did not take the file (its source is unusable).
        Queue,
        // A folder was given where a file was expected.
        Folder,
    };
    Reason reason;
    QString source;
    // The expanded destination; empty for Folder.
    QString destination;
    // The reason in words, as the service's client states it.
    QByteArray text;
};

// The commands and queries on the queue that both clients use: queue files,
// resubmit, remove, clear the finished ones, pause and resume, move up and
// down, and which actions a file allows. Every command runs on the main
// thread and returns without waiting for the queue manager's cycle; one
// that changed the queue asks for a cycle at once.
class QueueCommands {
public:
    // The priority of files queued by a person (not by a watched folder).
    static constexpr int kAddedByHandPriority = 10;

    // The error text of a file a person cancelled while it was processed.
    static constexpr const char* kCancelledText = "Cancelled by the user";

    // `requestCycle` runs the queue manager's cycle soon (may be empty);
    // `abandonLocalJobs` lets go of a cancelled file's running local jobs
    // (may be empty).
    QueueCommands(QueueManager& queueManager, std::function<void()> requestCycle,
                  std::function<void(QueueFile&)> abandonLocalJobs = {});

    // The destination is checked before the file is queued.
    std::optional<Refusal> queueFile(const FileRequest& request);
    QList<Refusal> queueFiles(const QList<FileRequest>& requests);
    // The sounds extracted from videos, proposed for the queue: each with its
    // destination beside its video (`videos`, in the same order), the last
    // preset used and plain options. Sounds that are no local file are left out.
    QList<FileRequest> videoSoundRequests(const QList<QUrl>& sounds, const QList<QUrl>& videos) const;
    // The destination proposed for a file named after `namingPath`: its
    // folder + "/" + its name up to the first dot + " - {presetName}." +
    // extension, in native separators.
    static QString proposedDestination(const QString& namingPath, const QString& extension);
    // A file in Error that may be retried, or Canceled, goes back to Waiting
    // with both local steps reset and its error message emptied; false for
    // any other file (a Done file is left as it is).
    bool resubmit(int fileId);
    // Resubmits every file it can that is in Error; how many it resubmitted.
    int resubmitFailed();
    // A file being processed (pre-processing, at the service or
    // post-processing) stops: its local job is let go, the cycle stops
    // following its job, and it goes to Error "Cancelled by the user", from
    // which resubmit() starts it afresh. False in any other state, or when
    // the file moved on meanwhile.
    bool cancel(int fileId);
    // The file a Done file was queued from, before any local step; empty
    // when the file is gone.
    QString originalSource(int fileId) const;
    // Queues `request` (a source, destination and preset a person chose
    // for a Done file) with the Done file's own processing options; a file
    // that is not Done is refused.
    std::optional<Refusal> submitWithAnotherPreset(int fileId, FileRequest request);
    // False when the file is not queued.
    bool remove(int fileId);
    // Removes every Done, Error and Canceled file in one pass; their ids.
    QList<int> clearFinished();
    // A Waiting file is paused, a Paused one waits again; false otherwise.
    bool togglePause(int fileId);
    bool moveUp(int fileId);
    bool moveDown(int fileId);

    QList<QueueFile*> files() const;
    QueueFile* file(int fileId) const;
    FileActions actionsFor(const QueueFile& file) const;

private:
    void cycleSoon() const;

    QueueManager& m_queueManager;
    std::function<void()> m_requestCycle;
    std::function<void(QueueFile&)> m_abandonLocalJobs;
};
