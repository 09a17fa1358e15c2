#include "driver/videojobrecords.h"

#include "video/videofile.h"

namespace videojobrecords {

namespace {

const QString kElement = QStringLiteral("VideoJob");

bool isKeptState(int state)
{
    return (state >= videoFile::WaitingA && state <= videoFile::ReencodingVideo)
        || state == videoFile::SameSourceInProgress;
}

} // namespace

StoredRecord toRecord(const videoFile& record)
{
    StoredRecord stored;
    stored.element = kElement;
    stored.fields = {
        {QStringLiteral("state"), QString::number(record.state)},
        {QStringLiteral("sourceVideo"), record.sourceVideo},
        {QStringLiteral("audioTarget"), record.audioTarget},
        {QStringLiteral("extractedAudio"), record.extractedAudio},
        {QStringLiteral("processedAudio"), record.processedAudio},
        {QStringLiteral("outputVideo"), record.outputVideo},
        {QStringLiteral("addMode"), QString::number(record.addMode)},
        {QStringLiteral("soundCodec"), record.sourceSound.codec},
        {QStringLiteral("soundBitRate"), QString::number(record.sourceSound.bitRateKbps)},
        {QStringLiteral("soundLanguage"), record.sourceSound.language},
        {QStringLiteral("soundStart"), record.sourceSound.startSeconds},
        {QStringLiteral("soundHighResolution"), record.sourceSound.highResolution ? QStringLiteral("true")
                                                                                 : QStringLiteral("false")},
    };
    return stored;
}

bool fromRecord(const StoredRecord& stored, videoFile& record)
{
    if (stored.element != kElement)
        return false;
    bool isNumber = false;
    const int state = stored.value(QStringLiteral("state")).toInt(&isNumber);
    if (!isNumber || !isKeptState(state) || stored.value(QStringLiteral("sourceVideo")).isEmpty())
        return false;
    record.state = videoFile::State(state);
    record.sourceVideo = stored.value(QStringLiteral("sourceVideo"));
    record.audioTarget = stored.value(QStringLiteral("audioTarget"));
    record.extractedAudio = stored.value(QStringLiteral("extractedAudio"));
    record.processedAudio = stored.value(QStringLiteral("processedAudio"));
    record.outputVideo = stored.value(QStringLiteral("outputVideo"));
    record.addMode = stored.value(QStringLiteral("addMode")).toInt();
    record.sourceSound.codec = stored.value(QStringLiteral("soundCodec"));
    record.sourceSound.bitRateKbps = stored.value(QStringLiteral("soundBitRate")).toInt();
    record.sourceSound.language = stored.value(QStringLiteral("soundLanguage"));
    record.sourceSound.startSeconds = stored.value(QStringLiteral("soundStart"));
    record.sourceSound.highResolution = stored.value(QStringLiteral("soundHighResolution")) == QLatin1String("true");
    return true;
}

} // namespace videojobrecords
