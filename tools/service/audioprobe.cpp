#include "audioprobe.h"

#include "audio/audiolibrary.h"

#include <QFile>

namespace {

// RIFF/RF64/BW64 container with a WAVE form type.
bool hasWavHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    const QByteArray chunk = head.left(4);
    return head.size() == 12 && (chunk == "RIFF" || chunk == "RF64" || chunk == "BW64") && head.mid(8, 4) == "WAVE";
}

} // namespace

bool probeAudio(const QString& path, AudioFacts& facts, QString& error)
{
    audiolib::DecodeStream stream;
    audiolib::StreamInfo info;
    if (!stream.open(path.toUtf8(), audiolib::DecodeStream::Samples::Float) || !stream.info(info)) {
        error = "decoder error " + QString::number(audiolib::lastErrorCode());
        return false;
    }
    if (info.channels <= 0 || info.sampleRate <= 0) {
        error = "no audio channels";
        return false;
    }
    facts.isWav = hasWavHeader(path);
    facts.sampleRate = info.sampleRate;
    facts.channels = info.channels;
    facts.sourceIsFloat = info.sourceIsFloat;
    facts.sourceBits = info.sourceBits;
    facts.durationSeconds = double(stream.lengthFrames()) / info.sampleRate;
    return true;
}
