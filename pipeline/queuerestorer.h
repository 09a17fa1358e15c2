#pragma once

#include "pipeline/storedfile.h"

#include <QList>

class QueueManager;
class Settings;

// Takes the files of a saved queue up again at start-up, after log-in, on
// the GUI thread, before the watched folders are first scanned:
//  - Waiting, Paused and Error files come back as they were;
//  - a file in pre-processing waits again with its original source, so
//    that pre-processing starts anew (its work file is removed); one whose
//    pre-processing had finished, or that was being uploaded without a job
//    yet, waits to be uploaded as pre-processing made it;
//  - a submitted file waits for a session that polls its job (no new
//    upload) and downloads the result; with its result on disk already it
//    goes to post-processing;
//  - a file whose post-processing had finished is Done;
//  - a queued file whose source has gone ends in Error with "Source file no
//    longer exists".
// A restored file from a watched folder is recorded in that folder's seen
// files if the record was lost (settings.xml is saved only at exit), so
// that the next scan does not queue it a second time.
namespace queuerestorer {

// Returns how many files were put back into the queue.
int restore(const QList<StoredFile>& files, QueueManager& manager, Settings& settings);

} // namespace queuerestorer
