#include "driver/fileactions.h"

FileActions fileActions(QueueFileState state, bool retryable)
{
    FileActions actions;
    switch (state) {
    case QueueFileState::Waiting:
    case QueueFileState::Paused:
        actions.openInput = true;
        actions.pause = state == QueueFileState::Waiting;
        actions.resume = state == QueueFileState::Paused;
        actions.remove = true;
        actions.steer = true;
        break;
    case QueueFileState::Running:
        actions.openInput = true;
        actions.cancel = true;
        break;
    case QueueFileState::Done:
        actions.openInput = true;
        actions.openOutput = true;
        actions.resubmit = true;
        actions.remove = true;
        break;
    case QueueFileState::Error:
    case QueueFileState::Canceled:
        actions.openInput = true;
        actions.resubmit = state == QueueFileState::Canceled || retryable;
        actions.remove = true;
        break;
    case QueueFileState::PreProcessing:
    case QueueFileState::PostProcessing:
        actions.openInput = true;
        actions.cancel = true;
        break;
    }
    return actions;
}
