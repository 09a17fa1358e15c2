#pragma once

#include "pipeline/storedrecord.h"

class videoFile;

// The video jobs as queue.xml keeps them ("VideoJob" records): what a job
// waits for (its state), its source video, the sounds and the new video's
// name, and the source's sound track, so that a restart takes it up again.
namespace videojobrecords {

StoredRecord toRecord(const videoFile& record);
// False when the record is no video job, names no source video or holds
// a state a job is not kept in.
bool fromRecord(const StoredRecord& stored, videoFile& record);

} // namespace videojobrecords
