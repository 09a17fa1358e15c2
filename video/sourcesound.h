#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The sound track of a video that the queue extracts and later replaces (the
// video's first audio stream), as ffmpeg described it during the extraction:
// enough to put the processed sound back in its place, in sync and in the
// track's own codec.
struct SourceSound {
    QString codec;          // ffmpeg's codec name ("aac", "pcm_s24le"); empty when unknown
    int bitRateKbps = 0;    // 0 when ffmpeg did not state one
    QString language;       // ISO 639-2 tag, empty when none or "und"
    QString startSeconds;   // the track's first timestamp, relative to the video's start ("1.000000")
    // Stored with more than 16 bits: PCM of 24 or 32 bits or floating point,
    // or a lossless codec that says "(24 bit)". Lossy codecs count as 16-bit.
    bool highResolution = false;

    // Reads the codec, bit rate and language from the input part of ffmpeg's
    // log (the first "Stream #0:N...: Audio:" line before any output is
    // described) and the start from the frame checksums ffmpeg wrote for the
    // track's first packet ("#tb 0: N/D" and its pts). Whatever cannot be read
    // stays empty.
    static SourceSound fromFfmpeg(const QByteArray& log, const QByteArray& firstPacketChecksums);

    // Arguments that encode output audio stream 0 like this track: its codec
    // where ffmpeg can write it (at its bit rate for lossy codecs), otherwise
    // the usual codec of `muxer`; its language tag.
    QStringList encodingArguments(const QString& muxer) const;
};
