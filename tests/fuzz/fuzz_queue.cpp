// queue.xml as the restorer finds it on disk. Whatever the reader accepts
// must come back the same after writing and reading it again, so that a
// saved queue never changes (or stops being readable) by being saved; the
// same holds for a video job read from its record.
#include "driver/videojobrecords.h"
#include "fuzzentry.h"
#include "pipeline/queuestore.h"
#include "video/videofile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QList<StoredFile> files;
    QList<StoredRecord> records;
    QString error;
    if (!queuestore::parse(fuzzing::bytes(data, size), files, error, &records))
        return 0;
    QList<StoredFile> again;
    QList<StoredRecord> recordsAgain;
    if (!queuestore::parse(queuestore::serialise(files, records), again, error, &recordsAgain) || again != files
        || recordsAgain != records)
        std::abort();
    for (const StoredRecord& record : records) {
        videoFile job;
        if (!videojobrecords::fromRecord(record, job))
            continue;
        videoFile jobAgain;
        if (!videojobrecords::fromRecord(videojobrecords::toRecord(job), jobAgain)
            || videojobrecords::toRecord(jobAgain) != videojobrecords::toRecord(job))
            std::abort();
    }
    return 0;
}
