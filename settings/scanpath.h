#pragma once

#include "settings/processingoptions.h"
#include "settings/scannedfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QXmlStreamReader;
class QXmlStreamWriter;

// One watched folder with its options and the files already seen in it.
class ScanPath {
public:
    QString path;
    bool showDialog = false;
    QByteArray preset;
    QString outputPath;
    QString outputSuffix = QStringLiteral("-{presetName}");
    bool enabled = true;
    bool encodeToMP3 = false;
    QString encodeToMP3_bitRate = QStringLiteral("160");
    QString encodeToMP3_suffix;
    bool deleteWAVafterMP3Encoding = false;
    QString postProcessing_Arguments;
    QString preProcessing_Arguments;
    int preProcessing_Result = 2;
    bool monoProcessing_ConvertToDualStereo = false;
    bool monoProcessing_KeepConverted = false;
    int id = 0;
    QList<ScannedFile> scannedFiles;

    void readXml(QXmlStreamReader& reader);
    void writeXml(QXmlStreamWriter& writer) const;

    void toOptions(ProcessingOptions& options) const;
    // Copies every persisted member except the scanned files; id stays.
    void assignFrom(const ScanPath& other);
    void clearScannedFiles();
    // outputPath, or path when outputPath is empty.
    QString outputFolder() const;
    // native path, "\n", native outputPath, "\n", preset.
    QString duplicateKey() const;
    bool sameTarget(const ScanPath& other) const;
    // "In: <path> out: <outputPath> preset: <preset>"
    QString describe() const;
    // Records a file the client is about to write here as a placeholder
    // (size -1, no digest) unless an entry names the same file already.
    void notePlaceholder(const QString& filePath);
    // notePlaceholder when `filePath` lies directly in this folder; tells
    // whether it did.
    bool noteOwnOutput(const QString& filePath);
};
