#pragma once

#include <QString>
#include <QStringList>

// Short videos for the tests, generated with the system's ffmpeg into the
// given path (a test pattern and, when asked for, a 440 Hz tone).
namespace videofixtures {

enum class Kind {
    Mp4H264Aac,   // H.264 picture, AAC sound
    Matroska,     // MPEG-4 picture, FLAC sound
    PictureOnly,  // H.264 picture, no sound stream
    AviMp3,       // MPEG-4 picture, MP3 sound, in AVI
    WmvWma,       // WMV picture, WMA sound, in ASF
    MovPcm24,     // MPEG-4 picture, 24-bit PCM sound, in QuickTime
};

// `toneAmplitude` is the tone's peak (0..1). False when ffmpeg failed.
bool makeVideo(const QString& path, Kind kind, double seconds = 2.0, double toneAmplitude = 0.1);

// A Matroska video of `seconds` with everything a mux must keep: an H.264
// picture; an English AAC sound track (440 Hz at `toneAmplitude`, 96 kbit/s)
// that starts `soundStart` seconds after the picture; a German AAC track
// titled "Commentary" (880 Hz); an English subtitle track; a chapter.
bool makeRichVideo(const QString& path, double seconds, double soundStart, double toneAmplitude);

// One line per stream, in order: "type codec language title", the missing
// fields left empty, e.g. "audio aac ger Commentary".
QStringList streamSummary(const QString& path);
// Start time in seconds of stream `index`; NaN when ffprobe does not tell.
double streamStart(const QString& path, int index);
// Presentation times (as ffprobe prints them) of the first picture stream's packets.
QStringList pictureTimes(const QString& path);
// Number of chapters.
int chapterCount(const QString& path);

// One "size:md5" line per packet of the first picture stream, so two files
// can be compared packet by packet whatever their containers' timings.
QStringList picturePackets(const QString& path);
// Number of audio streams ffprobe finds.
int audioStreamCount(const QString& path);
// Decodes the first sound stream to a 16-bit WAV; false when ffmpeg failed.
bool extractSound(const QString& video, const QString& wav);
// RMS level in dBFS of the first sound stream; NaN when it cannot be decoded.
double soundLevel(const QString& video);

} // namespace videofixtures
