#include "audioprobe.h"

#include <QFile>
#include <sndfile.h>

bool probeAudio(const QString& path, AudioFacts& facts, QString& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        error = QString::fromUtf8(sf_strerror(nullptr));
        return false;
    }
    sf_close(file);
    if (info.channels <= 0 || info.samplerate <= 0) {
        error = "no audio channels";
        return false;
    }
    const int container = info.format & SF_FORMAT_TYPEMASK;
    facts.isWav = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
    facts.sampleRate = info.samplerate;
    facts.channels = info.channels;
    facts.durationSeconds = double(info.frames) / info.samplerate;
    return true;
}
