#include "pipeline/jobexpectation.h"

#include "audio/audiolibrary.h"
#include "pipeline/jobinfo.h"

#include <QFileInfo>

#include <cmath>

namespace {

constexpr double kLengthToleranceSeconds = 1.0;

// Services drop control characters from the names they keep.
QByteArray withoutControlCharacters(QByteArray name)
{
    name.removeIf([](char c) { return (static_cast<unsigned char>(c) < 0x20) || c == 0x7f; });
    return name;
}

double lengthSeconds(const QString& path)
{
    audiolib::DecodeStream stream;
    audiolib::StreamInfo info;
    if (!stream.open(path.toUtf8(), audiolib::DecodeStream::Samples::Float) || !stream.info(info)
        || info.sampleRate <= 0)
        return -1;
    const qint64 frames = stream.lengthFrames();
    return frames < 0 ? -1 : double(frames) / info.sampleRate;
}

} // namespace

JobExpectation JobExpectation::of(const QString& path, const QByteArray& presetEntry)
{
    JobExpectation expected;
    expected.fileName = QFileInfo(path).fileName().toUtf8();
    const int colon = presetEntry.indexOf(':');
    expected.presetName = colon < 0 ? QByteArray() : presetEntry.mid(colon + 1).trimmed();
    expected.seconds = lengthSeconds(path);
    return expected;
}

QByteArray JobExpectation::differenceFrom(const JobInfo& job) const
{
    if (!fileName.isEmpty() && withoutControlCharacters(job.name) != withoutControlCharacters(fileName))
        return "the job is for the file \"" + job.name + "\", not \"" + fileName + "\"";
    if (jobId > 0 && job.id != jobId)
        return "the job's id is " + QByteArray::number(job.id) + ", not " + QByteArray::number(jobId);
    if (!created.isEmpty() && job.created != created)
        return "the job was created at \"" + job.created + "\", not at \"" + created + "\"";
    if (!presetName.isEmpty() && !job.audioPresetName.isEmpty() && job.audioPresetName.trimmed() != presetName)
        return "the job uses the preset \"" + job.audioPresetName + "\", not \"" + presetName + "\"";
    if (seconds >= 0 && job.duration > 0 && std::abs(job.duration - seconds) > kLengthToleranceSeconds)
        return "the job is " + QByteArray::number(job.duration, 'f', 1) + " s long, the file "
            + QByteArray::number(seconds, 'f', 1) + " s";
    return {};
}
