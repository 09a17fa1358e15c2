#pragma once

#include "settings/newfileread.h"
#include "settings/processingoptions.h"
#include "settings/scannedfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

class QXmlStreamReader;
class QXmlStreamWriter;

// One watched folder with its options and the files already seen in it.
class ScanPath {
public:
    // How far below path a recursive folder's files are looked for.
    static constexpr int kMaxDepth = 16;
    // Range and default of settleSeconds.
    static constexpr int kMaxSettleSeconds = 600;
    static constexpr int kDefaultSettleSeconds = 3;
    // Range of truePeakCeiling (dBTP) and the value the editor offers first.
    static constexpr double kMinTruePeakCeiling = -9.0;
    static constexpr double kMaxTruePeakCeiling = 0.0;
    static constexpr double kDefaultTruePeakCeiling = -1.0;
    // A WAV whose header disagrees with its length is taken as it is (a
    // broken file) once it has stayed unchanged this long.
    static constexpr int kBrokenWavSeconds = 60;

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
    // Subfolders are watched too, down to kMaxDepth levels below path.
    bool recursive = false;
    // Where the platform cannot tell whether a file is still being written,
    // it is taken once its size and time have stayed the same this long.
    int settleSeconds = kDefaultSettleSeconds;
    // Normalisation keeps the true peak of its outputs at or below this
    // (dBTP); NaN (element absent or empty) normalises with a plain gain.
    double truePeakCeiling = std::numeric_limits<double>::quiet_NaN();
    int id = 0;
    QList<ScannedFile> scannedFiles;

    void readXml(QXmlStreamReader& reader);
    // Without records, the folder's settings only (for telling changes apart).
    void writeXml(QXmlStreamWriter& writer, bool withRecords = true) const;

    void toOptions(ProcessingOptions& options) const;
    // Copies every persisted member except the scanned files; id stays.
    void assignFrom(const ScanPath& other);
    void clearScannedFiles();
    // The ceiling a settings text gives: a number clamped to the range, NaN
    // (off) for an empty text or one that is not a number.
    static double readCeiling(const QString& text);
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
    // notePlaceholder when `filePath` lies in this folder (or, recursive,
    // in one of its subfolders); tells whether it did.
    bool noteOwnOutput(const QString& filePath);
    // Whether files in `folder` are this folder's input: path itself, or for
    // a recursive folder a subfolder at most kMaxDepth levels below it.
    bool coversFolder(const QString& folder) const;

    // ---- Scanning -----------------------------------------------------
    // The folder scanner runs these on the settings' own records, on the
    // GUI thread. Entries are matched by path identity (platform::pathKey).

    // One pass over the folder: files that appeared and are complete go to
    // newFiles (listing order), files of entries that are gone go to
    // vanishedFiles (entry order; the entries stay). New files are recorded;
    // one that is not complete yet is not, and is looked at again next time.
    // Complete means: nobody holds it open for writing (where the platform
    // tells; elsewhere, unchanged for settleSeconds), and for a WAV a header
    // that agrees with the file's length (or, failing that, unchanged for
    // kBrokenWavSeconds) and at least one audio frame: a WAV that is only a
    // header is looked at again while it changes, and logged once when it
    // stays so for kBrokenWavSeconds. A new file is read through `readOf` (a
    // read at once, NewFileRead::of, when none is given); while it has not
    // judged the header, the file counts as not complete yet, so a read
    // elsewhere never holds up the scan. A file whose digest is still being
    // read is taken at once when it cannot be a known file under a new name
    // (no vanished entry has its size); it is recorded as a placeholder
    // then, completed by a later scan. Otherwise the vanished entries of its
    // size are not reported until its digest tells whether it is one of them.
    // Once `budget` has expired, the new files not looked at yet wait for
    // the next scan as files not complete yet do (at least one is looked at
    // per scan); no vanished file is reported by such a scan, as one of
    // them may be a known file under a new name.
    using ReadSource = std::function<NewFileRead(const QString& path, bool takeIncomplete)>;
    void scan(bool includeVideo, QStringList& newFiles, QStringList& vanishedFiles, const ReadSource& readOf = {},
              QDeadlineTimer budget = QDeadlineTimer(QDeadlineTimer::Forever));
    // The audio and video files the folder holds now, as a scan would list
    // them with video support on (the folder itself, or its tree).
    QStringList listInputFiles() const;
    // Regular, non-hidden files directly in `folder` whose names end in "."
    // plus one of the comma-separated extensions, in any letter case;
    // unsorted, native separators.
    static QStringList listFiles(const QString& folder, const QString& extensions);
    // listFiles of `root` and of its subfolders down to kMaxDepth levels,
    // without following symbolic links to folders (so never out of the tree
    // nor in a loop) and without entering hidden folders or the folders in
    // `excluded` (path keys). Every folder listed is added to `folders`,
    // root first, native separators, with its modification time as it was
    // just before it was listed in `foldersModified`.
    static QStringList listTree(const QString& root, const QString& extensions, const QSet<QString>& excluded,
                                QStringList& folders, QList<QDateTime>& foldersModified);
    // Folders whose subtrees a recursive scan leaves out: the folders that
    // hold the client's own outputs. Path keys; the folder itself is always
    // scanned.
    void setExcludedFolders(const QSet<QString>& keys) { m_excludedFolders = keys; }
    // The folders the last scan listed (path, or path and its subfolders).
    QStringList listedFolders() const { return m_listing.folders; }
    // True when the last listing still holds: no listed folder changed since
    // it was taken. Costs one look at each folder, no listing.
    bool listingIsCurrent() const;
    // The last scan saw new files that were not complete yet.
    bool hasUnsettledFiles() const { return m_unsettledFiles > 0; }
    // The last scan saw WAVs that have been only a header for a while;
    // a change of a file is not always told for its folder, so they are
    // looked at with every poll.
    bool hasIdleFiles() const { return m_idleFiles > 0; }
    // The last scan left placeholders whose files exist but are not
    // finished yet.
    bool hasOpenPlaceholders() const { return m_openPlaceholders > 0; }
    // Drops every entry that names one of `paths`.
    void forgetScannedFiles(const QStringList& paths);
    // A relative `name` reduced to its file name, inside outputFolder();
    // native separators.
    QString resolveOutputPath(const QString& name) const;
    // resolveOutputPath for a file found in `source`'s folder: a source in a
    // subfolder keeps its subfolder below outputFolder().
    QString resolveOutputPath(const QString& name, const QString& source) const;
    // Lower-case hexadecimal MD5 of the whole file; empty when unreadable.
    static QByteArray fileDigest(const QString& path);

private:
    struct FileStamp {
        qint64 size = -1;
        QDateTime modified;
        qint64 sinceMs = 0; // first seen with this size and time (steady clock)
        bool told = false;  // the log said why it is not taken
    };
    // Whether a file not yet seen may be taken: complete, still settling
    // (looked at again soon), or a WAV without audio left so for a while
    // (looked at again when its folder changes).
    enum class Readiness { Complete, Settling, Idle };
    // The folder's matching files with their path keys, as last listed.
    struct Listing {
        QString folder;
        QString extensions;
        bool recursive = false;
        QSet<QString> excluded;
        QStringList folders;
        QList<QDateTime> foldersModified;
        QDateTime takenAt;
        QStringList files;
        QStringList keys;
        QSet<QString> keySet;
    };
    const Listing& currentListing(const QString& extensions);
    // Reads the file through `readOf` only when its stamp and writers allow
    // it to be complete; `read` is what the read found (Pending when none).
    Readiness readinessOf(const QString& file, qint64 nowMs, QHash<QString, FileStamp>& settling,
                          const ReadSource& readOf, NewFileRead& read) const;
    void resolvePlaceholder(ScannedFile& entry, const ReadSource& readOf) const;

    // Listing a large folder costs more than everything else in a scan, and
    // a folder rarely changes: the listing is taken again only when the
    // folder's modification time says its entries may have changed.
    Listing m_listing;
    QSet<QString> m_excludedFolders;
    int m_unsettledFiles = 0;
    int m_idleFiles = 0;
    int m_openPlaceholders = 0;

    // New files not complete yet, with the time since which they have not
    // changed. Kept in memory only.
    QHash<QString, FileStamp> m_settling;
};
