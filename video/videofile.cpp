#include "video/videofile.h"

QString videoFile::stateName() const
{
    switch (state) {
    case WaitingA:
        return QStringLiteral("waitingA");
    case ExtractingAudio:
        return QStringLiteral("extractingAudio - ") + jobStatusText;
    case ExtractedAudioReady:
        return QStringLiteral("extractedAudioReady");
    case WaitingForProcessedAudio:
        return QStringLiteral("waitingForProcessedAudio");
    case WaitingB:
        return QStringLiteral("waitingB");
    case ReencodingVideo:
        return QStringLiteral("reencodingVideo - ") + jobStatusText;
    case Finished:
        return QStringLiteral("finished");
    case Cancelled:
        return QStringLiteral("cancelled");
    case Error:
        return QStringLiteral("error");
    case ErrorExtracting:
        return QStringLiteral("errorExtracting");
    case ErrorEncoding:
        return QStringLiteral("errorEncoding");
    default:
        return QStringLiteral("unknown");
    }
}
