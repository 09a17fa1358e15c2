#include "settings/scanpath.h"

#include "settings/platform.h"
#include "settings/xmlfields.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

void ScanPath::readXml(QXmlStreamReader& reader)
{
    using xmlfields::readBool;
    using xmlfields::readText;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == QLatin1String("path")) {
            path = readText(reader);
        } else if (name == QLatin1String("showDialog")) {
            showDialog = readBool(reader);
        } else if (name == QLatin1String("preset")) {
            preset = readText(reader).toUtf8();
        } else if (name == QLatin1String("encodeToMP3_bitRate")) {
            encodeToMP3_bitRate = readText(reader);
        } else if (name == QLatin1String("outputPath")) {
            outputPath = readText(reader);
        } else if (name == QLatin1String("outputSuffix")) {
            outputSuffix = readText(reader);
        } else if (name == QLatin1String("enabled")) {
            enabled = readBool(reader);
        } else if (name == QLatin1String("encodeToMP3")) {
            encodeToMP3 = readBool(reader);
        } else if (name == QLatin1String("encodeToMP3_suffix")) {
            encodeToMP3_suffix = readText(reader);
        } else if (name == QLatin1String("deleteWAVafterMP3Encoding")) {
            deleteWAVafterMP3Encoding = readBool(reader);
        } else if (name == QLatin1String("postProcessing_Arguments")) {
            postProcessing_Arguments = readText(reader);
        } else if (name == QLatin1String("preProcessing_Arguments")) {
            preProcessing_Arguments = readText(reader);
        } else if (name == QLatin1String("preProcessing_Result")) {
            bool ok = false;
            const int value = readText(reader).toInt(&ok, 10);
            if (ok)
                preProcessing_Result = value;
        } else if (name == QLatin1String("monoProcessing_ConvertToDualStereo")) {
            monoProcessing_ConvertToDualStereo = readBool(reader);
        } else if (name == QLatin1String("monoProcessing_KeepConverted")) {
            monoProcessing_KeepConverted = readBool(reader);
        } else if (name == QLatin1String("recursive")) {
            recursive = readBool(reader);
        } else if (name == QLatin1String("settleSeconds")) {
            bool ok = false;
            const int value = readText(reader).trimmed().toInt(&ok, 10);
            if (ok)
                settleSeconds = std::clamp(value, 0, kMaxSettleSeconds);
        } else if (name == QLatin1String("truePeakCeiling")) {
            truePeakCeiling = readCeiling(readText(reader));
        } else if (name == QLatin1String("ScannedFile")) {
            ScannedFile file;
            file.readXml(reader);
            scannedFiles.append(file);
        } else {
            reader.skipCurrentElement();
        }
    }
}

void ScanPath::writeXml(QXmlStreamWriter& writer, bool withRecords) const
{
    using xmlfields::writeBool;
    using xmlfields::writeText;
    writer.writeStartElement(QStringLiteral("ScanPath"));
    writeText(writer, QStringLiteral("path"), path);
    writeBool(writer, QStringLiteral("showDialog"), showDialog);
    writeText(writer, QStringLiteral("preset"), preset);
    writeText(writer, QStringLiteral("encodeToMP3_bitRate"), encodeToMP3_bitRate);
    writeText(writer, QStringLiteral("outputPath"), outputPath);
    writeText(writer, QStringLiteral("outputSuffix"), outputSuffix);
    writeBool(writer, QStringLiteral("enabled"), enabled);
    writeBool(writer, QStringLiteral("encodeToMP3"), encodeToMP3);
    writeText(writer, QStringLiteral("encodeToMP3_suffix"), encodeToMP3_suffix);
    writeBool(writer, QStringLiteral("deleteWAVafterMP3Encoding"), deleteWAVafterMP3Encoding);
    writeText(writer, QStringLiteral("postProcessing_Arguments"), postProcessing_Arguments);
    writeText(writer, QStringLiteral("preProcessing_Arguments"), preProcessing_Arguments);
    writeText(writer, QStringLiteral("preProcessing_Result"), QString::number(preProcessing_Result));
    writeBool(writer, QStringLiteral("monoProcessing_ConvertToDualStereo"), monoProcessing_ConvertToDualStereo);
    writeBool(writer, QStringLiteral("monoProcessing_KeepConverted"), monoProcessing_KeepConverted);
    for (const ScannedFile& file : scannedFiles) {
        if (withRecords)
            file.writeXml(writer);
    }
    // After the elements every reader of settings.xml knows; one that does
    // not know this one skips it.
    writeBool(writer, QStringLiteral("recursive"), recursive);
    writeText(writer, QStringLiteral("settleSeconds"), QString::number(settleSeconds));
    // Only when set, so that a folder without a ceiling is written as before.
    if (!std::isnan(truePeakCeiling))
        writeText(writer, QStringLiteral("truePeakCeiling"), QString::number(truePeakCeiling, 'f', 1));
    writer.writeEndElement();
}

void ScanPath::toOptions(ProcessingOptions& options) const
{
    options.fromWatchFolder = true;
    options.watchFolderPath = path;
    options.showDialog = showDialog;
    options.preset = QString::fromUtf8(preset);
    options.outputPath = outputPath;
    options.outputSuffix = outputSuffix;
    options.enabled = enabled;
    options.encodeToMP3 = encodeToMP3;
    options.deleteWAVafterMP3Encoding = deleteWAVafterMP3Encoding;
    options.encodeToMP3_bitRate = encodeToMP3_bitRate;
    options.encodeToMP3_suffix = encodeToMP3_suffix;
    options.postProcessing_Arguments = postProcessing_Arguments;
    options.preProcessing_Arguments = preProcessing_Arguments;
    options.monoProcessing_ConvertToDualStereo = monoProcessing_ConvertToDualStereo;
    options.monoProcessing_KeepConverted = monoProcessing_KeepConverted;
    options.preProcessing_Result = preProcessing_Result;
    options.truePeakCeiling = truePeakCeiling;
}

void ScanPath::assignFrom(const ScanPath& other)
{
    // Member by member: state that is not persisted (the id, the scanned
    // files, anything the folder scanner keeps) stays this folder's own.
    path = other.path;
    showDialog = other.showDialog;
    preset = other.preset;
    outputPath = other.outputPath;
    outputSuffix = other.outputSuffix;
    enabled = other.enabled;
    encodeToMP3 = other.encodeToMP3;
    encodeToMP3_bitRate = other.encodeToMP3_bitRate;
    encodeToMP3_suffix = other.encodeToMP3_suffix;
    deleteWAVafterMP3Encoding = other.deleteWAVafterMP3Encoding;
    postProcessing_Arguments = other.postProcessing_Arguments;
    preProcessing_Arguments = other.preProcessing_Arguments;
    preProcessing_Result = other.preProcessing_Result;
    monoProcessing_ConvertToDualStereo = other.monoProcessing_ConvertToDualStereo;
    monoProcessing_KeepConverted = other.monoProcessing_KeepConverted;
    recursive = other.recursive;
    settleSeconds = other.settleSeconds;
    truePeakCeiling = other.truePeakCeiling;
}

double ScanPath::readCeiling(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return std::clamp(value, kMinTruePeakCeiling, kMaxTruePeakCeiling);
}

void ScanPath::clearScannedFiles()
{
    scannedFiles.clear();
}

QString ScanPath::outputFolder() const
{
    return outputPath.isEmpty() ? path : outputPath;
}

QString ScanPath::duplicateKey() const
{
    return QDir::toNativeSeparators(path) + QLatin1Char('\n') + QDir::toNativeSeparators(outputPath)
        + QLatin1Char('\n') + QString::fromUtf8(preset);
}

bool ScanPath::sameTarget(const ScanPath& other) const
{
    return duplicateKey() == other.duplicateKey();
}

QString ScanPath::describe() const
{
    return QStringLiteral("In: ") + path + QStringLiteral(" out: ") + outputPath + QStringLiteral(" preset: ")
        + QString::fromUtf8(preset);
}

void ScanPath::notePlaceholder(const QString& filePath)
{
    for (const ScannedFile& known : std::as_const(scannedFiles)) {
        if (platform::isSamePath(known.filePath, filePath))
            return;
    }
    ScannedFile placeholder;
    placeholder.filePath = QDir::toNativeSeparators(filePath);
    scannedFiles.append(placeholder);
}

bool ScanPath::coversFolder(const QString& folder) const
{
    if (platform::isSamePath(folder, path))
        return true;
    if (!recursive || path.isEmpty())
        return false;
    const QString relative = QDir(path).relativeFilePath(folder);
    if (relative.startsWith(QLatin1String("..")) || QFileInfo(relative).isAbsolute())
        return false;
    return relative.count(QLatin1Char('/')) < kMaxDepth;
}

bool ScanPath::noteOwnOutput(const QString& filePath)
{
    if (!coversFolder(QFileInfo(filePath).absolutePath()))
        return false;
    notePlaceholder(filePath);
    return true;
}
