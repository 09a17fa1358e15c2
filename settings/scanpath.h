#pragma once

#include "settings/processingoptions.h"
#include "settings/scannedfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

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

    // ---- Scanning -----------------------------------------------------
    // The folder scanner runs these on the settings' own records, on the
    // GUI thread. Entries are matched by path identity (platform::pathKey).

    // One pass over the folder: files that appeared and are complete go to
    // newFiles (listing order), files of entries that are gone go to
    // vanishedFiles (entry order; the entries stay). New files are recorded,
    // except one that cannot be read in full, which is tried again next time.
    void scan(bool includeVideo, QStringList& newFiles, QStringList& vanishedFiles);
    // Regular, non-hidden files directly in `folder` whose names end in "."
    // plus one of the comma-separated extensions, in any letter case;
    // unsorted, native separators.
    static QStringList listFiles(const QString& folder, const QString& extensions);
    // Drops every entry that names one of `paths`.
    void forgetScannedFiles(const QStringList& paths);
    // A relative `name` reduced to its file name, inside outputFolder();
    // native separators.
    QString resolveOutputPath(const QString& name) const;
    // Lower-case hexadecimal MD5 of the whole file; empty when unreadable.
    static QByteArray fileDigest(const QString& path);

private:
    struct FileStamp {
        qint64 size = -1;
        QDateTime modified;
    };
    // The folder's matching files with their path keys, as last listed.
    struct Listing {
        QString folder;
        QString extensions;
        QDateTime folderModified;
        QDateTime takenAt;
        QStringList files;
        QStringList keys;
        QSet<QString> keySet;
    };
    const Listing& currentListing(const QString& extensions);
    bool isComplete(const QString& file, QHash<QString, FileStamp>& settling) const;
    void resolvePlaceholder(ScannedFile& entry) const;

    // Listing a large folder costs more than everything else in a scan, and
    // a folder rarely changes: the listing is taken again only when the
    // folder's modification time says its entries may have changed.
    Listing m_listing;

    // New files whose writers the platform cannot see (no lease support):
    // they count as complete once size and time are the same at two scans
    // in a row. Kept in memory only.
    QHash<QString, FileStamp> m_settling;
};
