#include "pipeline/storedfile.h"

#include <cmath>
#include <tuple>

namespace {

auto optionFields(const ProcessingOptions& o)
{
    return std::tie(o.fromWatchFolder, o.watchFolderPath, o.showDialog, o.preset, o.outputPath, o.outputSuffix,
                    o.enabled, o.encodeToMP3, o.deleteWAVafterMP3Encoding, o.cleanUpIntermediate,
                    o.encodeToMP3_bitRate, o.encodeToMP3_suffix, o.postProcessing_Arguments,
                    o.preProcessing_Arguments, o.monoProcessing_ConvertToDualStereo, o.monoProcessing_KeepConverted,
                    o.preProcessing_Result);
}

auto fileFields(const StoredFile& f)
{
    return std::tie(f.state, f.jobId, f.jobCreated, f.srcFile, f.destFile, f.originalSourceFile, f.presetName, f.priority,
                    f.watchFolder, f.outputFiles, f.errorMessage, f.retryable, f.convertedToStereo,
                    f.preProcessingStatus, f.deleteAfterSubmission, f.preProcessingOperations, f.preProcessed,
                    f.postProcessed, f.workFile);
}

} // namespace

bool StoredFile::operator==(const StoredFile& other) const
{
    // NaN (no ceiling) equals NaN here, unlike in arithmetic.
    const double a = options.truePeakCeiling, b = other.options.truePeakCeiling;
    const bool sameCeiling = (std::isnan(a) && std::isnan(b)) || a == b;
    return fileFields(*this) == fileFields(other) && optionFields(options) == optionFields(other.options) && sameCeiling;
}
