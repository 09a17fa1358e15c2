#pragma once

#include <QStringList>

class EncoderListView;
class QMutex;
class QueueFile;

// The queue driver's MP3 step at Done: for a file from a watched folder that
// asks for MP3, one encoder per result (the destination file, then each
// post-processing output), named with the folder's MP3 suffix and the
// preset, at the folder's bit rate, listed (and owned) by `list`. With
// deleteWAVafterMP3Encoding each encoder asks, once its MP3 is complete, for
// its WAV to be deleted through `deleteRequests` under `deleteRequestsLock`.
void encodeResultToMp3(const QueueFile& file, EncoderListView& list, QMutex& deleteRequestsLock,
                       QStringList& deleteRequests);

// The MP3 name of one result: folder + complete base name + suffix + ".mp3",
// with the preset expanded into it.
QString mp3NameFor(const QString& result, const QString& suffix, const QString& preset);
