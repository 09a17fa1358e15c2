// The pre- and post-processing option strings as a watched folder stores them.
#include "audio/postprocessing.h"
#include "audio/preprocessing.h"
#include "fuzzentry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString arguments = QString::fromUtf8(fuzzing::bytes(data, size));
    PreProcessing pre;
    pre.setArguments(arguments);
    (void)pre.fileNameSuffix();
    for (const QString& line : PreProcessing::splitOperations(arguments)) {
        float target = 0;
        QString unit;
        if (PostProcessing::parseTarget(line.mid(9).trimmed(), target, unit))
            (void)PostProcessing::outputName(QStringLiteral("/out/song.tmp"), target, unit);
    }
    return 0;
}
