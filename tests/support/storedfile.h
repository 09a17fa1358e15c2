#pragma once

#include "pipeline/queuestore.h"

#include <QString>

// A queue.xml record of one file in `state`: its source, a destination
// beside it ("<source>.out.wav") and a preset. Header only: the tests that
// use it link the pipeline library.
inline StoredFile storedFile(const QString& source, QueueFileState state, int jobId = 0)
{
    StoredFile f;
    f.state = state;
    f.jobId = jobId;
    f.srcFile = source.toUtf8();
    f.originalSourceFile = f.srcFile;
    f.destFile = (source + ".out.wav").toUtf8();
    f.presetName = "1: Speech -16 LUFS";
    f.priority = 100;
    return f;
}
