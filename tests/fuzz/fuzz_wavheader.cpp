// The header of a WAV file in a watched folder, judged against its length.
#include "fuzzentry.h"
#include "settings/wavheader.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = fuzzing::bytes(data, size);
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return 0;
    (void)wavheader::judge(buffer, buffer.size());
    // The file as it grows: a length beyond what can be read.
    (void)wavheader::judge(buffer, buffer.size() + 4096);
    return 0;
}
