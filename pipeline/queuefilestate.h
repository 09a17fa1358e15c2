#pragma once

// The life of one queued file. The numbers are stable: they appear in the
// verbose cycle output and in QueueFile::toString().
enum class QueueFileState : int {
    Waiting = 1,
    Paused = 2,
    PreProcessing = 3,
    Running = 4,
    PostProcessing = 5,
    Done = 6,
    Error = 7,
    Canceled = 8,
};
