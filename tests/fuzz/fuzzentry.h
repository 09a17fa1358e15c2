#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Every harness defines libFuzzer's entry point. The fuzz build links it to
// libFuzzer; the normal build links it to replaymain.cpp, which feeds it
// every file of the harness's seed corpus.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzzing {

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A QCoreApplication for harnesses whose code expects one, made once.
void ensureApplication();

} // namespace fuzzing
