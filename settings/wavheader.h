#pragma once

#include <QString>

class QIODevice;

// Whether a WAV file (RIFF or RF64) is whole, judged by its header against
// its length. Recorders write a placeholder header first and patch the sizes
// when they finish, and copiers write the final header before the data, so
// a file whose header disagrees with its length is still being written,
// whoever writes it and even while nobody holds it open.
namespace wavheader {

enum class Verdict {
    NotWav,     // does not begin as a RIFF or RF64 WAVE file: other checks decide
    Complete,   // the sizes in the header agree with the file's length
    NoAudio,    // whole, but its data chunk holds no audio frame (a header
                // written before the recording)
    Incomplete, // a size is a placeholder with data after it, or promises
                // more bytes than the file holds, or the header is cut short
};

// Judges the header at the start of `device` (open for reading, positioned
// anywhere) for a file of `length` bytes. Reads only chunk headers.
Verdict judge(QIODevice& device, qint64 length);

} // namespace wavheader
