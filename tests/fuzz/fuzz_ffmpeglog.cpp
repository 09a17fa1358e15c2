// What ffmpeg writes about a video's sound track during an extraction: its
// log on standard error and the checksums of the track's first packet, here
// one input split at its first NUL byte.
#include "fuzzentry.h"
#include "video/sourcesound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzing::bytes(data, size);
    const qsizetype split = input.indexOf('\0');
    const QByteArray log = split < 0 ? input : input.left(split);
    const QByteArray checksums = split < 0 ? QByteArray() : input.mid(split + 1);
    const SourceSound sound = SourceSound::fromFfmpeg(log, checksums);
    for (const char* muxer : {"mp4", "matroska", "avi", "asf", "mpeg", ""})
        (void)sound.encodingArguments(QString::fromLatin1(muxer));
    return 0;
}
