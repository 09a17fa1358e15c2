// queue.xml as the restorer finds it on disk. Whatever the reader accepts
// must come back the same after writing and reading it again, so that a
// saved queue never changes (or stops being readable) by being saved.
#include "fuzzentry.h"
#include "pipeline/queuestore.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QList<StoredFile> files;
    QString error;
    if (!queuestore::parse(fuzzing::bytes(data, size), files, error))
        return 0;
    QList<StoredFile> again;
    if (!queuestore::parse(queuestore::serialise(files), again, error) || again != files)
        std::abort();
    return 0;
}
