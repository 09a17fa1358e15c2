#pragma once

#include "video/sourcesound.h"

#include <QString>

// One video job of the video queue: a source video, the WAV its sound is
// extracted to, the processed sound to put back and the video to write.
// Paths are kept with native separators.
class videoFile {
public:
    // Values of `state`, kept in queue.xml as their numbers. The failures
    // carry the Error bit; SameSourceInProgress does not.
    enum State : int {
        WaitingA = 1,
        ExtractingAudio = 2,
        ExtractedAudioReady = 3,
        WaitingForProcessedAudio = 4,
        WaitingB = 5,
        ReencodingVideo = 6,
        Finished = 7,
        Cancelled = 512,
        Error = 1024,
        ErrorExtracting = 1024 + 32,
        ErrorEncoding = 1024 + 64,
        SameSourceInProgress = 2048,
    };

    QString sourceVideo;
    QString extractTarget;
    QString audioTarget;
    QString extractedAudio;
    QString processedAudio;
    QString outputVideo;
    QString jobStatusText;
    State state = WaitingA;
    int id = 0;
    int groupKey = 0;
    int encoderJobId = 0;
    int decoderJobId = 0;
    int addMode = 0;
    // Why the job failed (ffmpeg's last error line or the step that failed); empty otherwise.
    QString failureReason;
    // The replaced sound track, as the extraction found it.
    SourceSound sourceSound;

    // The state's name; the two running states append jobStatusText.
    QString stateName() const;
    // Failed for good: the Error bit is set (SameSourceInProgress is not a failure).
    bool failed() const { return (state & Error) != 0; }
};
