// The folder-scanning operations of ScanPath: listing, completeness, digests
// and the bookkeeping of the files already seen.
#include "settings/scanpath.h"

#include "settings/platform.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QSet>

#include <chrono>

namespace {

const QString kAudioExtensions = QStringLiteral("wav");
const QString kVideoExtensions = QStringLiteral(",mpeg,avi,mp4,mkv,mov,wmv,mpg");

// Where another program still writes the file (on Windows, or while it
// holds a lock), it cannot be opened for reading and writing. ExistingOnly:
// a file that vanished since the listing is not created again.
bool opensForReadWrite(const QString& file)
{
    QFile probe(file);
    return probe.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
}

// How this user can open the file now: for writing; for reading only,
// because its permissions say so (which tells nothing of other writers);
// or not for writing although it may, because a writer holds it.
enum class Access { Writable, ReadOnly, Held };

Access accessOf(const QString& file, const QFileInfo& info)
{
    if (opensForReadWrite(file))
        return Access::Writable;
    return info.isWritable() ? Access::Held : Access::ReadOnly;
}

// Existence of the file an entry names. Files of the current listing exist;
// only the others are asked of the file system.
bool entryExists(const ScannedFile& entry, const QSet<QString>& listedKeys)
{
    return listedKeys.contains(platform::pathKey(entry.filePath)) || QFileInfo::exists(entry.filePath);
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

QStringList ScanPath::listFiles(const QString& folder, const QString& extensions)
{
    QStringList endings;
    for (const QString& extension : extensions.split(QLatin1Char(','), Qt::KeepEmptyParts))
        endings.append(QLatin1Char('.') + extension);

    QStringList files;
    if (folder.isEmpty())
        return files;
    // One prefix for every file: joining each name through QDir costs more
    // than the listing itself in a large folder.
    QString prefix = QDir(folder).path();
    if (!prefix.endsWith(QLatin1Char('/')))
        prefix += QLatin1Char('/');
    prefix = QDir::toNativeSeparators(prefix);
    // Without QDir::Hidden and QDir::System, hidden and system files are left out.
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        for (const QString& ending : std::as_const(endings)) {
            if (name.endsWith(ending, Qt::CaseInsensitive)) {
                files.append(prefix + name);
                break;
            }
        }
    }
    return files;
}

QStringList ScanPath::listInputFiles() const
{
    const QString extensions = kAudioExtensions + kVideoExtensions;
    if (!recursive)
        return listFiles(path, extensions);
    QStringList folders;
    QList<QDateTime> modified;
    return listTree(path, extensions, m_excludedFolders, folders, modified);
}

QStringList ScanPath::listTree(const QString& root, const QString& extensions, const QSet<QString>& excluded,
                               QStringList& folders, QList<QDateTime>& foldersModified)
{
    QStringList files;
    if (root.isEmpty() || !QFileInfo(root).isDir() || platform::isVirtualFileSystemFolder(root))
        return files;
    // Breadth first, one level at a time, so the depth is the round number.
    QStringList level{QDir::toNativeSeparators(QDir(root).path())};
    for (int depth = 0; depth <= kMaxDepth && !level.isEmpty(); ++depth) {
        QStringList next;
        for (const QString& folder : std::as_const(level)) {
            // The time before the listing: a change while listing shows later.
            folders.append(folder);
            foldersModified.append(QFileInfo(folder).lastModified());
            files += listFiles(folder, extensions);
            if (depth == kMaxDepth)
                continue;
            // Without QDir::Hidden, hidden folders are left out.
            QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
            while (it.hasNext()) {
                it.next();
                const QFileInfo info = it.fileInfo();
                const QString sub = QDir::toNativeSeparators(info.filePath());
                if (!info.isSymLink() && !excluded.contains(platform::pathKey(sub))
                    && !platform::isVirtualFileSystemFolder(sub))
                    next.append(sub);
            }
        }
        level = next;
    }
    return files;
}

QByteArray ScanPath::fileDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return {};
    return hash.result().toHex();
}

bool ScanPath::listingIsCurrent() const
{
    // A file system stores modification times with some granularity (two
    // seconds on FAT). A listing is trusted only when it began clearly after
    // the last change of every folder it covers, so a change that left the
    // time as it was cannot have happened after the listing.
    if (m_listing.folder != path || m_listing.recursive != recursive || m_listing.excluded != m_excludedFolders
        || m_listing.folders.isEmpty())
        return false;
    for (int i = 0; i < m_listing.folders.size(); ++i) {
        const QDateTime modified = QFileInfo(m_listing.folders.at(i)).lastModified();
        if (!modified.isValid() || modified != m_listing.foldersModified.at(i)
            || m_listing.takenAt <= modified.addSecs(2))
            return false;
    }
    return true;
}

const ScanPath::Listing& ScanPath::currentListing(const QString& extensions)
{
    if (m_listing.extensions == extensions && listingIsCurrent())
        return m_listing;

    Listing listing;
    listing.folder = path;
    listing.extensions = extensions;
    listing.recursive = recursive;
    listing.excluded = m_excludedFolders;
    listing.takenAt = QDateTime::currentDateTime();
    if (recursive) {
        listing.files = listTree(path, extensions, m_excludedFolders, listing.folders, listing.foldersModified);
    } else {
        // The time before the listing: a change while listing shows later.
        listing.folders.append(QDir::toNativeSeparators(path));
        listing.foldersModified.append(QFileInfo(path).lastModified());
        listing.files = listFiles(path, extensions);
    }
    // A listed file that is already seen takes the entry's path text, so a
    // folder of many seen files holds each path once, not twice.
    QHash<QString, qsizetype> entries;
    entries.reserve(scannedFiles.size());
    for (qsizetype i = 0; i < scannedFiles.size(); ++i)
        entries.insert(scannedFiles.at(i).filePath, i);
    listing.keys.reserve(listing.files.size());
    for (QString& file : listing.files) {
        const auto entry = entries.constFind(file);
        if (entry != entries.constEnd())
            file = scannedFiles.at(entry.value()).filePath;
        listing.keys.append(platform::pathKey(file));
    }
    listing.keySet = QSet<QString>(listing.keys.cbegin(), listing.keys.cend());
    m_listing = std::move(listing);
    return m_listing;
}

ScanPath::Readiness ScanPath::readinessOf(const QString& file, qint64 nowMs, QHash<QString, FileStamp>& settling,
                                          const ReadSource& readOf, NewFileRead& read) const
{
    const QFileInfo info(file);
    const QString key = platform::pathKey(file);
    FileStamp now{info.size(), info.lastModified(), nowMs};
    const auto before = m_settling.constFind(key);
    if (before != m_settling.constEnd() && before->size == now.size && before->modified == now.modified) {
        now.sinceMs = before->sinceMs;
        now.told = before->told;
    }
    const qint64 unchangedMs = nowMs - now.sinceMs;
    const bool longUnchanged = unchangedMs >= kBrokenWavSeconds * 1000LL;
    settling.insert(key, now);

    const Access access = accessOf(file, info);
    if (access == Access::Held)
        return Readiness::Settling;
    const platform::FileWriters writers =
        access == Access::Writable ? platform::fileWriters(file) : platform::FileWriters::Unknown;
    if (writers == platform::FileWriters::Writing)
        return Readiness::Settling;
    // Whatever its header says, a file that changed lately with no writer
    // known is not taken yet: it is not read either.
    const bool settled = writers == platform::FileWriters::None || unchangedMs >= qint64(settleSeconds) * 1000;
    if (!settled && !longUnchanged)
        return Readiness::Settling;
    read = readOf(file, longUnchanged);
    if (!read.headerKnown())
        return Readiness::Settling;
    switch (read.header) {
    case wavheader::Verdict::Incomplete:
        return longUnchanged ? Readiness::Complete : Readiness::Settling;
    case wavheader::Verdict::NoAudio:
        // A recorder that wrote the header first appends the recording later.
        if (!longUnchanged)
            return Readiness::Settling;
        if (!now.told) {
            qWarning().noquote() << "A WAV without audio for" << kBrokenWavSeconds
                                 << "s is not queued until audio is written into it:" << file;
            settling[key].told = true;
        }
        return Readiness::Idle;
    case wavheader::Verdict::Complete:
    case wavheader::Verdict::NotWav:
        break;
    }
    return settled ? Readiness::Complete : Readiness::Settling;
}

void ScanPath::resolvePlaceholder(ScannedFile& entry, const ReadSource& readOf) const
{
    // A placeholder may name a file this user may only read (one recorded
    // as seen when its folder was added): it is completed all the same.
    const QFileInfo before(entry.filePath);
    if (!before.exists() || accessOf(entry.filePath, before) == Access::Held
        || platform::fileWriters(entry.filePath) == platform::FileWriters::Writing)
        return;
    const QByteArray digest = readOf(entry.filePath, false).digest;
    const QFileInfo info(entry.filePath);
    if (digest.isEmpty() || !info.exists())
        return;
    entry.fileSize = info.size();
    entry.MD5 = digest;
}

void ScanPath::scan(bool includeVideo, QStringList& newFiles, QStringList& vanishedFiles, const ReadSource& readSource,
                    QDeadlineTimer budget)
{
    const ReadSource readOf = readSource ? readSource : ReadSource([](const QString& path, bool takeIncomplete) {
        return NewFileRead::of(path, takeIncomplete);
    });
    const Listing& listing = currentListing(includeVideo ? kAudioExtensions + kVideoExtensions : kAudioExtensions);
    const QStringList listed = listing.files;
    const QStringList listedKeys = listing.keys;
    const QSet<QString> listedKeySet = listing.keySet;
    const int knownCount = int(scannedFiles.size());

    // The first entry for each path, and the placeholders in entry order.
    // Walking backwards leaves the first index of a repeated path in place.
    QHash<QString, int> firstEntry;
    firstEntry.reserve(knownCount);
    QList<int> placeholders;
    for (int i = knownCount - 1; i >= 0; --i) {
        firstEntry.insert(platform::pathKey(scannedFiles.at(i).filePath), i);
        if (scannedFiles.at(i).isPlaceholder())
            placeholders.prepend(i);
    }

    // Entries by size, built on the first new file: it is needed only to
    // recognise a known file under a new name.
    QMultiHash<qint64, int> bySize;
    bool bySizeBuilt = false;
    // A known file under a new name has the size of an entry whose file is
    // gone; with `digest` empty, any such entry may be it.
    auto isMovedKnownFile = [&](qint64 size, const QByteArray& digest) {
        if (!bySizeBuilt) {
            for (int i = 0; i < knownCount; ++i)
                bySize.insert(scannedFiles.at(i).fileSize, i);
            bySizeBuilt = true;
        }
        for (auto it = bySize.constFind(size); it != bySize.constEnd() && it.key() == size; ++it) {
            const ScannedFile& known = scannedFiles.at(it.value());
            if ((digest.isEmpty() || known.MD5 == digest) && !entryExists(known, listedKeySet))
                return true;
        }
        return false;
    };

    // Placeholders turn into full entries as the walk over the entries
    // reaches them: a known file's walk ends at its own entry, a new file's
    // walk covers them all. Each placeholder is looked at once per scan.
    int nextPlaceholder = 0;
    auto walkTo = [&](int lastEntry) {
        while (nextPlaceholder < placeholders.size() && placeholders.at(nextPlaceholder) <= lastEntry)
            resolvePlaceholder(scannedFiles[placeholders.at(nextPlaceholder++)], readOf);
    };

    QHash<QString, FileStamp> settling;
    QSet<qint64> awaitedSizes;
    const qint64 nowMs = steadyMs();
    QList<ScannedFile> remembered;
    int unsettled = 0;
    int idle = 0;
    int lookedAt = 0;
    bool outOfTime = false;
    for (int n = 0; n < listed.size(); ++n) {
        const QString& file = listed.at(n);
        const auto known = firstEntry.constFind(listedKeys.at(n));
        if (known != firstEntry.constEnd()) {
            walkTo(known.value());
            continue;
        }
        outOfTime = outOfTime || (lookedAt > 0 && budget.hasExpired());
        if (outOfTime) {
            // Looked at next time, with the time it has been seen unchanged.
            const auto before = m_settling.constFind(listedKeys.at(n));
            if (before != m_settling.constEnd())
                settling.insert(before.key(), before.value());
            ++unsettled;
            continue;
        }
        ++lookedAt;
        walkTo(knownCount - 1);
        NewFileRead read;
        const Readiness readiness = readinessOf(file, nowMs, settling, readOf, read);
        const QFileInfo info(file);
        const bool digestKnown = read.stage == NewFileRead::Stage::Read && !read.digest.isEmpty();
        if (readiness == Readiness::Idle) {
            ++idle;
            continue;
        }
        if (readiness != Readiness::Complete || !info.exists() || (!digestKnown && isMovedKnownFile(info.size(), {}))) {
            // The entry this file may be under its old name stays until the
            // file's digest tells.
            if (read.stage == NewFileRead::Stage::Pending || read.stage == NewFileRead::Stage::Judged)
                awaitedSizes.insert(info.size());
            ++unsettled;
            continue;
        }
        if (read.headerIncomplete())
            qWarning().noquote() << "Taking a WAV whose header has disagreed with its length for"
                                 << kBrokenWavSeconds << "s as it is:" << file;
        settling.remove(platform::pathKey(file));

        // Without its digest yet, the file is recorded as a placeholder,
        // completed by a later scan.
        ScannedFile entry;
        entry.filePath = file;
        if (digestKnown) {
            entry.MD5 = read.digest;
            entry.fileSize = info.size();
        }
        remembered.append(entry);
        if (!digestKnown || !isMovedKnownFile(entry.fileSize, entry.MD5))
            newFiles.append(file);
    }
    m_settling = settling;
    m_unsettledFiles = unsettled;
    m_idleFiles = idle;
    m_openPlaceholders = 0;
    for (int index : std::as_const(placeholders)) {
        const ScannedFile& entry = scannedFiles.at(index);
        if (entry.isPlaceholder() && listedKeySet.contains(platform::pathKey(entry.filePath)))
            ++m_openPlaceholders;
    }

    for (int i = 0; i < knownCount && !outOfTime; ++i) {
        const ScannedFile& entry = scannedFiles.at(i);
        if (!awaitedSizes.contains(entry.fileSize) && !entryExists(entry, listedKeySet))
            vanishedFiles.append(entry.filePath);
    }
    scannedFiles.append(remembered);
}

void ScanPath::forgetScannedFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    QSet<QString> keys;
    for (const QString& file : paths)
        keys.insert(platform::pathKey(file));
    scannedFiles.removeIf([&keys](const ScannedFile& entry) { return keys.contains(platform::pathKey(entry.filePath)); });
}

QString ScanPath::resolveOutputPath(const QString& name) const
{
    const QFileInfo info(name);
    if (info.isAbsolute())
        return QDir::toNativeSeparators(name);
    return QDir::toNativeSeparators(QDir(outputFolder()).filePath(info.fileName()));
}

QString ScanPath::resolveOutputPath(const QString& name, const QString& source) const
{
    const QString subfolder = QDir(path).relativeFilePath(QFileInfo(source).absolutePath());
    if (!recursive || QFileInfo(name).isAbsolute() || subfolder == QLatin1String(".")
        || subfolder.startsWith(QLatin1String("..")))
        return resolveOutputPath(name);
    return QDir::toNativeSeparators(QDir(outputFolder()).filePath(subfolder + QLatin1Char('/') + QFileInfo(name).fileName()));
}
