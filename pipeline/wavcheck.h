#pragma once

#include <QString>

class QIODevice;

// Checks that a downloaded result is a whole WAV file: a RIFF, RF64 or BW64
// header whose sizes agree with the bytes that arrived, a format chunk and
// a data chunk that ends within the file. A result cut off on the way, or
// an error page sent in its place, fails the check.
namespace wavcheck {

// Reads from the device's start; false with the reason in `why`.
bool isWhole(QIODevice& device, QString& why);
bool isWhole(const QString& path, QString& why);

} // namespace wavcheck
