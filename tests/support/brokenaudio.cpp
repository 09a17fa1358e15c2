#include "brokenaudio.h"

#include <QFile>
#include <QtEndian>

#include <sndfile.h>

#include <cstring>

namespace fixtures {

namespace {

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

bool writeRawWav(const QString& path, const RawWav& header, const QByteArray& data)
{
    const quint32 blockAlign = quint32(header.channels * header.bits / 8);
    const bool extensible = header.channelMask != 0;
    QByteArray body = "WAVEfmt " + le32(extensible ? 40 : 16)
                      + le16(quint16(extensible ? 0xFFFE : header.formatTag)) + le16(quint16(header.channels))
                      + le32(quint32(header.sampleRate)) + le32(quint32(header.sampleRate) * blockAlign)
                      + le16(quint16(blockAlign)) + le16(quint16(header.bits));
    if (extensible) {
        // The format tag becomes the first field of the sub-format GUID.
        static const char guidTail[14] = {0, 0, 0, 0, 0x10, 0, char(0x80), 0, 0, char(0xAA), 0, 0x38, char(0x9B), 0x71};
        body += le16(22) + le16(quint16(header.bits)) + le32(header.channelMask) + le16(quint16(header.formatTag))
                + QByteArray(guidTail, 14);
    }
    if (header.dataChunk)
        body += "data" + le32(quint32(data.size())) + data;
    return writeBytes(path, "RIFF" + le32(quint32(body.size())) + body);
}

QByteArray floatBytes(const std::vector<float>& samples)
{
    QByteArray bytes(int(samples.size() * sizeof(float)), '\0');
    for (size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian(samples[i], bytes.data() + i * sizeof(float));
    return bytes;
}

bool writeFlacWithoutLength(const QString& path, const std::vector<float>& interleaved, const Signal& signal)
{
    SF_INFO info{};
    info.samplerate = signal.sampleRate;
    info.channels = signal.channels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = sf_count_t(interleaved.size()) / signal.channels;
    const bool written = sf_writef_float(f, interleaved.data(), frames) == frames;
    if (sf_close(f) != 0 || !written)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    // "fLaC", a 4-byte block header, then STREAMINFO: the 36-bit sample
    // count is the low nibble of byte 21 and bytes 22..25; 0 means unknown.
    if (bytes.size() < 42 || !bytes.startsWith("fLaC"))
        return false;
    bytes[21] = char(bytes[21] & 0xF0);
    std::memset(bytes.data() + 22, 0, 4);
    return writeBytes(path, bytes);
}

} // namespace fixtures
