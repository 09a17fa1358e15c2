#pragma once

#include "settings/wavheader.h"

#include <QByteArray>
#include <QString>

#include <functional>

// What reading a new file of a watched folder found. A new file is read in
// one pass: its WAV header is judged on the open file, then the whole file is
// hashed (MD5) from the start, so no check opens it a second time.
struct NewFileRead {
    enum class Stage {
        Pending, // nothing known yet (the file waits for a reader)
        Judged,  // the header's verdict is known, the digest is being read
        Read,    // done: the digest, unless the header was incomplete and not taken
        Failed,  // the file could not be opened or read
    };
    Stage stage = Stage::Pending;
    wavheader::Verdict header = wavheader::Verdict::NotWav;
    QByteArray digest; // lower-case hexadecimal MD5

    bool headerKnown() const { return stage == Stage::Judged || stage == Stage::Read; }
    bool headerIncomplete() const { return headerKnown() && header == wavheader::Verdict::Incomplete; }

    // Reads `path`: judges its header, tells `judged` (when given), then hashes
    // the whole file in blocks, asking `stopped` (when given) before each one;
    // a stopped read is Failed. A file whose header is incomplete is not
    // hashed unless `takeIncomplete` (a writer is still at work, or the file
    // is broken and taken as it is).
    static NewFileRead of(const QString& path, bool takeIncomplete,
                          const std::function<void(wavheader::Verdict)>& judged = {},
                          const std::function<bool()>& stopped = {});
};
