#pragma once

#include <QString>

class QueueFile;
class videoSupport;

// The names a person recognises for a queued file: what they queued, and
// where they will find the result. Work files the client makes on the way
// (a video's extracted sound, a destination that post-processing replaces)
// are never shown.
namespace shownnames {

// The video a sound was taken from, else the file queued (before any local step).
QString source(const QueueFile& file, const videoSupport* videos);
// A Done file's outputs (or its destination); before that the destination,
// or, when that is only an intermediate that post-processing replaces, the
// outputs it will give; several names are joined with "; ".
QString destination(const QueueFile& file);

} // namespace shownnames
