#pragma once

#include "pipeline/storedfile.h"
#include "pipeline/storedrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QueueManager;

// The format of queue.xml, the queue kept next to settings.xml so that a
// restart takes the unfinished files up again, and the reading and writing
// of that file. Files are kept in queue order; Canceled files are not kept,
// nor Done files unless MP3s of theirs are still being made. Records of other
// parts of the client (the video jobs) follow the files.
namespace queuestore {

// appConfigFolder() + "/queue.xml".
QString defaultPath();

// The queue as it stands, in queue order. Call on the GUI thread (the
// queue driver's thread): each file is read through its locked accessors
// and a submitted file's job id is taken from the session that holds it.
QList<StoredFile> take(const QueueManager& manager);

QByteArray serialise(const QList<StoredFile>& files, const QList<StoredRecord>& records = {});
// False with a reason in `error` when the text is not a queue file. Every
// other element than a file becomes a record when `records` is given.
bool parse(const QByteArray& text, QList<StoredFile>& files, QString& error, QList<StoredRecord>* records = nullptr);

// Writes through QSaveFile: a crash leaves the old file or the new one,
// never a torn one. False (the old file kept) when it cannot be written.
bool write(const QString& path, const QByteArray& text);
// Reads the queue file. A missing file is an empty queue. A file that
// cannot be read is renamed to queue.xml.bad (replacing an older one), the
// reason goes to the log, and the queue is empty.
QList<StoredFile> load(const QString& path, QList<StoredRecord>* records = nullptr);

} // namespace queuestore
