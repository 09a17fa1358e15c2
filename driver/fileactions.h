#pragma once

#include "pipeline/queuefilestate.h"

// What a person may do with a queued file in a given state; both clients
// offer exactly these.
struct FileActions {
    bool openInput = false;
    bool openOutput = false;
    bool pause = false;
    bool resume = false;
    // Offered for a Done file as well, where it changes nothing.
    bool resubmit = false;
    // Removing a file that still waits cancels it.
    bool remove = false;
    // Moving up and down, and removing as a cancel.
    bool steer = false;
    // Stopping a file that is being processed (locally or at the service).
    bool cancel = false;

    bool any() const { return openInput || openOutput || pause || resume || resubmit || remove || cancel; }
};

// A file being processed may only be cancelled; `retryable` is the file's
// flag (only a retryable Error may be submitted again).
FileActions fileActions(QueueFileState state, bool retryable);
