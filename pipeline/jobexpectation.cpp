#include "pipeline/jobexpectation.h"

#include "audio/audiolibrary.h"
#include "pipeline/jobinfo.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLengthToleranceSeconds = 1.0;

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Services drop control characters from the names they keep.
QByteArray withoutControlCharacters(QByteArray name)
{
    name.removeIf([](char c) { return (static_cast<unsigned char>(c) < 0x20) || c == 0x7f; });
    return name;
}

// A name with path separators (a backslash is an ordinary character of a
// file name on Linux) comes back either without them or as what follows
// the last one; control characters come back dropped.
bool sameName(const QByteArray& kept, const QByteArray& sent)
{
    const QByteArray a = withoutControlCharacters(kept);
    const QByteArray b = withoutControlCharacters(sent);
    // A double quote or backslash goes out percent-encoded and may be kept so.
    if (a == b || QByteArray::fromPercentEncoding(a) == b)
        return true;
    const auto lastPart = [](const QByteArray& name) {
        const auto at = std::find_if(name.rbegin(), name.rend(), isSeparator);
        return name.mid(name.size() - (at - name.rbegin()));
    };
    QByteArray joinedA = a;
    QByteArray joinedB = b;
    joinedA.removeIf(isSeparator);
    joinedB.removeIf(isSeparator);
    return joinedA == joinedB || lastPart(a) == lastPart(b);
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
    if (jobId > 0 && job.id != 0 && job.id != jobId)
        return "the job's id is " + QByteArray::number(job.id) + ", not " + QByteArray::number(jobId);
    if (!created.isEmpty() && !job.created.isEmpty() && job.created != created)
        return "the job was created at \"" + job.created + "\", not at \"" + created + "\"";
    if (!presetName.isEmpty() && !job.audioPresetName.isEmpty() && job.audioPresetName.trimmed() != presetName)
        return "the job uses the preset \"" + job.audioPresetName + "\", not \"" + presetName + "\"";
    const bool otherName = !fileName.isEmpty() && !job.name.isEmpty() && !sameName(job.name, fileName);
    const bool otherLength = seconds >= 0 && job.duration > 0 && std::abs(job.duration - seconds) > kLengthToleranceSeconds;
    if (otherName && otherLength)
        return "the job is for the file \"" + job.name + "\" of " + QByteArray::number(job.duration, 'f', 1)
            + " s, not \"" + fileName + "\" of " + QByteArray::number(seconds, 'f', 1) + " s";
    return {};
}

void JobExpectation::recordFirstAnswer(const JobInfo& job)
{
    if (jobId == 0)
        jobId = job.id;
    if (created.isEmpty())
        created = job.created;
}
