#include "settings/wavheader.h"

#include <QByteArray>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>

namespace wavheader {

namespace {

constexpr quint32 kPlaceholder32 = 0xFFFFFFFFu;
constexpr quint64 kPlaceholder64 = ~quint64(0);
// A file whose data chunk does not come within this many chunks is not a
// WAV any writer makes; other checks decide about it.
constexpr int kMaxChunks = 256;

bool readAt(QIODevice& device, qint64 position, char* out, qint64 count)
{
    return device.seek(position) && device.read(out, count) == count;
}

// Whether the bytes of a file shorter than the 12-byte file header are the
// beginning of one: its writer has only begun.
bool beginsLikeHeader(const QByteArray& start)
{
    const QByteArray tag = start.left(4);
    const bool tagFits = QByteArray("RIFF").startsWith(tag) || QByteArray("RF64").startsWith(tag);
    return tagFits && (start.size() <= 8 || QByteArray("WAVE").startsWith(start.mid(8)));
}

// A size field of the whole file that is a placeholder or promises more
// than the file holds (one missing pad byte at the end is tolerated).
bool fileSizeDisagrees(quint64 declared, qint64 length, bool placeholder)
{
    return placeholder || declared == 0 || declared + 8 > quint64(length) + 1;
}

} // namespace

Verdict judge(QIODevice& device, qint64 length)
{
    char head[12];
    const qint64 got = device.seek(0) ? device.read(head, sizeof head) : -1;
    if (got < 0)
        return Verdict::NotWav;
    const QByteArray start(head, int(got));
    if (got < qint64(sizeof head))
        return beginsLikeHeader(start) ? Verdict::Incomplete : Verdict::NotWav;
    const bool rf64 = start.startsWith("RF64");
    if ((!rf64 && !start.startsWith("RIFF")) || start.mid(8) != "WAVE")
        return Verdict::NotWav;
    const quint32 riffSize = qFromLittleEndian<quint32>(head + 4);
    if (!rf64 && fileSizeDisagrees(riffSize, length, riffSize == kPlaceholder32))
        return Verdict::Incomplete;

    quint64 ds64DataSize = 0;
    bool haveDs64 = false;
    quint16 frameBytes = 1;
    qint64 position = sizeof head;
    for (int n = 0; n < kMaxChunks; ++n) {
        char chunk[8];
        if (position + 8 > length || !readAt(device, position, chunk, sizeof chunk))
            return Verdict::Incomplete;
        const QByteArray id(chunk, 4);
        const quint32 size = qFromLittleEndian<quint32>(chunk + 4);
        if (rf64 && id == "ds64") {
            char sizes[16];
            if (size < sizeof sizes || !readAt(device, position + 8, sizes, sizeof sizes))
                return Verdict::Incomplete;
            const quint64 riff64 = qFromLittleEndian<quint64>(sizes);
            if (fileSizeDisagrees(riff64, length, riff64 == kPlaceholder64))
                return Verdict::Incomplete;
            ds64DataSize = qFromLittleEndian<quint64>(sizes + 8);
            haveDs64 = true;
        } else if (id == "fmt ") {
            char format[14];
            if (size >= sizeof format && readAt(device, position + 8, format, sizeof format))
                frameBytes = std::max<quint16>(1, qFromLittleEndian<quint16>(format + 12));
        } else if (id == "data") {
            if (rf64 && !haveDs64)
                return Verdict::Incomplete;
            const quint64 declared = rf64 && size == kPlaceholder32 ? ds64DataSize : size;
            const bool placeholder = declared == 0 || (!rf64 && size == kPlaceholder32) || declared == kPlaceholder64;
            const qint64 available = length - (position + 8);
            if (placeholder && available > 0)
                return Verdict::Incomplete;
            if (declared > quint64(available))
                return Verdict::Incomplete;
            return declared < frameBytes ? Verdict::NoAudio : Verdict::Complete;
        }
        position += 8 + qint64(size) + (size & 1);
    }
    return Verdict::NotWav;
}

} // namespace wavheader
