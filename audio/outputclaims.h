#pragma once

#include <QString>

// Names that jobs of this process have taken for files they are about to
// write. Two jobs that would write the same file (the same source listed
// twice, song.wav and song.flac both becoming song.mp3) get distinct names,
// so that one never overwrites or removes the other's output. A claim lasts
// until it is released; names are compared by path identity.
namespace outputclaims {

// Claims `desired` when no other claim holds it; otherwise the first
// "<folder>/<base> (N).<suffix>" that no claim holds and no file has. An
// existing file under `desired` itself is no obstacle: a job may overwrite
// what an earlier run left there. Returns the claimed path in native
// separators, or an empty text when every numbered name is taken.
QString claim(const QString& desired);
// Ends the claim on `path`; nothing when it holds none.
void release(const QString& path);

} // namespace outputclaims
