#include "pipeline/wavcheck.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>

namespace wavcheck {

namespace {

// Chunks walked before the data chunk; a real header has a handful.
constexpr int kMaxChunks = 4096;
constexpr quint32 kUnknownSize = 0xFFFFFFFFu;

struct Chunk {
    QByteArray id;
    quint32 size = 0;
};

bool readChunkHeader(QIODevice& device, qint64 offset, Chunk& chunk)
{
    if (!device.seek(offset))
        return false;
    const QByteArray header = device.read(8);
    if (header.size() != 8)
        return false;
    chunk.id = header.left(4);
    chunk.size = qFromLittleEndian<quint32>(header.constData() + 4);
    return true;
}

// The RIFF and data sizes of an RF64/BW64 file, from its ds64 chunk.
bool readDs64(QIODevice& device, qint64& riffSize, qint64& dataSize)
{
    Chunk chunk;
    if (!readChunkHeader(device, 12, chunk) || chunk.id != "ds64" || chunk.size < 16)
        return false;
    const QByteArray sizes = device.read(16);
    if (sizes.size() != 16)
        return false;
    riffSize = qint64(qFromLittleEndian<quint64>(sizes.constData()));
    dataSize = qint64(qFromLittleEndian<quint64>(sizes.constData() + 8));
    // No file is that large; bounding them keeps the sums below exact.
    constexpr qint64 kLargest = qint64(1) << 62;
    return riffSize >= 0 && dataSize >= 0 && riffSize < kLargest && dataSize < kLargest;
}

} // namespace

bool isWhole(QIODevice& device, QString& why)
{
    const qint64 total = device.size();
    if (!device.seek(0)) {
        why = QStringLiteral("cannot be read");
        return false;
    }
    const QByteArray head = device.read(12);
    if (head.size() != 12 || head.mid(8, 4) != "WAVE"
        || (head.left(4) != "RIFF" && head.left(4) != "RF64" && head.left(4) != "BW64")) {
        why = QStringLiteral("not a WAV file");
        return false;
    }
    const bool large = head.left(4) != "RIFF";
    qint64 riffSize = qFromLittleEndian<quint32>(head.constData() + 4);
    qint64 largeDataSize = -1;
    if (large && !readDs64(device, riffSize, largeDataSize)) {
        why = QStringLiteral("an RF64 file without its size chunk");
        return false;
    }
    if (riffSize + 8 > total) {
        why = QStringLiteral("%1 of %2 bytes").arg(total).arg(riffSize + 8);
        return false;
    }
    bool haveFormat = false;
    qint64 offset = 12;
    Chunk chunk;
    for (int i = 0; i < kMaxChunks && readChunkHeader(device, offset, chunk); ++i) {
        qint64 size = chunk.size;
        if (chunk.id == "data") {
            if (large && chunk.size == kUnknownSize)
                size = largeDataSize;
            if (!haveFormat) {
                why = QStringLiteral("a data chunk without a format chunk");
                return false;
            }
            if (offset + 8 + size > total) {
                why = QStringLiteral("its audio ends after %1 of %2 bytes").arg(total - offset - 8).arg(size);
                return false;
            }
            return true;
        }
        haveFormat = haveFormat || chunk.id == "fmt ";
        offset += 8 + size + (size & 1);
    }
    why = QStringLiteral("no audio data");
    return false;
}

bool isWhole(const QString& path, QString& why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return false;
    }
    return isWhole(file, why);
}

} // namespace wavcheck
