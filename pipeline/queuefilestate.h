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

// Done, Error and Canceled: the queue does nothing more with the file.
constexpr bool isFinished(QueueFileState state)
{
    return state == QueueFileState::Done || state == QueueFileState::Error || state == QueueFileState::Canceled;
}

// How a queued file's local pre-processing ended, kept in queue.xml as its
// number: NotRun before any run, Failed when the pre-processor failed (the
// queue manager then puts the file to Error), Reset once the file is
// resubmitted.
enum class PreProcessingStatus : int {
    Reset = 0,
    Failed = 3,
    NotRun = 6,
};
