#pragma once

#include "pipeline/queuefilestate.h"
#include "settings/processingoptions.h"

#include <QByteArray>
#include <QList>

// One queued file as queue.xml keeps it: what is needed to take the file up
// again after a restart. Plain values, copied from a QueueFile on the GUI
// thread and written by another thread.
struct StoredFile {
    QueueFileState state = QueueFileState::Waiting;
    // The service's job for a file that was already submitted; 0 for none.
    int jobId = 0;
    // That job's creation time as the service first gave it; empty when not known.
    QByteArray jobCreated;
    QByteArray srcFile;
    QByteArray destFile;
    QByteArray originalSourceFile;
    QByteArray presetName;
    int priority = 0;
    ProcessingOptions options;
    QByteArray watchFolder;
    QList<QByteArray> outputFiles;
    QByteArray errorMessage;
    bool retryable = false;
    bool convertedToStereo = false;
    PreProcessingStatus preProcessingStatus = PreProcessingStatus::NotRun;
    bool deleteAfterSubmission = false;
    qint32 preProcessingOperations = 0;
    // Pre-processing (state PreProcessing) or post-processing (state
    // PostProcessing) had finished; its results are in the fields above.
    bool preProcessed = false;
    bool postProcessed = false;
    // The work file of a pre-processing that was running.
    QByteArray workFile;

    bool operator==(const StoredFile& other) const;
    bool operator!=(const StoredFile& other) const { return !(*this == other); }
};
