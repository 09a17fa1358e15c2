// The noise-suppression program's command line, one argument per line.
#include "denoiseoptions.h"
#include "fuzzentry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList arguments = QString::fromUtf8(fuzzing::bytes(data, size)).split(QLatin1Char('\n'));
    DenoiseOptions options;
    QString error;
    options.parse(arguments, error);
    return 0;
}
