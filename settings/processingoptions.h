#pragma once

#include <QString>

#include <limits>

// The per-file copy of a watched folder's options. Files added by hand carry
// these defaults; files from a watched folder get the folder's values.
struct ProcessingOptions {
    bool fromWatchFolder = false;
    QString watchFolderPath;
    bool showDialog = false;
    QString preset;
    QString outputPath;
    QString outputSuffix = QStringLiteral("-{presetName}");
    bool enabled = true;
    bool encodeToMP3 = false;
    bool deleteWAVafterMP3Encoding = false;
    bool cleanUpIntermediate = true;
    QString encodeToMP3_bitRate = QStringLiteral("160");
    QString encodeToMP3_suffix = QStringLiteral("-{presetName}");
    QString postProcessing_Arguments;
    QString preProcessing_Arguments;
    bool monoProcessing_ConvertToDualStereo = false;
    bool monoProcessing_KeepConverted = false;
    int preProcessing_Result = 0;
    // dBTP the normalised outputs' true peak stays at or below; NaN: off.
    double truePeakCeiling = std::numeric_limits<double>::quiet_NaN();
};
