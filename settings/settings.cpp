#include "settings/settings.h"

#include "settings/platform.h"
#include "settings/xmlfields.h"

#include <algorithm>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

// The stored password is XORed with this byte and written as hexadecimal.
// It only keeps the password from being readable at a glance; the file
// itself is private to the user.
constexpr char kPasswordKey = char(0x5c);

QByteArray scramblePassword(const QByteArray& password)
{
    QByteArray hex;
    hex.reserve(password.size() * 2);
    for (char byte : password)
        hex += QByteArray(1, char(byte ^ kPasswordKey)).toHex();
    return hex;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads the text two characters at a time (a lone last character on its
// own); a piece that is not hexadecimal stands for 0.
QByteArray unscramblePassword(const QString& hex)
{
    QByteArray password;
    for (int i = 0; i < hex.size(); i += 2) {
        const QStringView piece = QStringView(hex).mid(i, 2);
        int value = 0;
        for (QChar c : piece) {
            const int digit = hexDigit(c);
            if (digit < 0) {
                value = 0;
                break;
            }
            value = value * 16 + digit;
        }
        password += char(char(value) ^ kPasswordKey);
    }
    return password;
}

} // namespace

#ifndef SONVIRA_WEBSITE_URL
#error "SONVIRA_WEBSITE_URL must be defined by the build"
#endif

// No version-check address until curversionurl.txt names one: a settings
// object of its own never sends a request anywhere.
Settings::Settings()
{
    webSiteUrl = SONVIRA_WEBSITE_URL;
}

Settings::Settings(const Settings& other)
    : SettingsValues(other), m_scanPaths(other.scanPaths())
{
}

bool Settings::load(const QString& path)
{
    QFile file(QDir::toNativeSeparators(path));
    if (!file.open(QIODevice::ReadOnly)) {
        m_loadError = file.exists() ? QStringLiteral("cannot be opened: ") + file.errorString() : QString();
        return false;
    }

    QMutexLocker locker(&m_lock);
    QXmlStreamReader reader(&file);
    // Anything read before the first XML error is kept: each loop ends as
    // soon as the reader reports an error.
    bool rootClosed = false;
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("Settings"))
            readSettingsElement(reader);
        else
            reader.skipCurrentElement();
        rootClosed = !reader.hasError() && reader.isEndElement();
    }
    m_loadError.clear();
    // An empty file is a reset one: the defaults, no error. The reader may
    // report the end of the data after a whole document as premature.
    const bool whole = rootClosed && reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    if (reader.hasError() && file.size() > 0 && !whole) {
        m_loadError = QStringLiteral("line %1, column %2: %3")
                          .arg(reader.lineNumber())
                          .arg(reader.columnNumber())
                          .arg(reader.errorString());
        keepUnreadableCopy(file);
    }
    return true;
}

void Settings::keepUnreadableCopy(QFile& file)
{
    const QString copy = file.fileName() + QStringLiteral(".bad");
    QFile::remove(copy);
    if (!file.copy(copy))
        qWarning().noquote() << "Cannot keep a copy of" << file.fileName() << "as" << copy;
}

void Settings::readSettingsElement(QXmlStreamReader& reader)
{
    using xmlfields::readBool;
    using xmlfields::readText;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == QLatin1String("showFirstTime_AddWatchFolderDialog")) {
            showFirstTime_AddWatchFolderDialog = readBool(reader);
        } else if (name == QLatin1String("hideWhenClosed")) {
            hideWhenClosed = readBool(reader);
        } else if (name == QLatin1String("parallelJobs")) {
            parallelJobs = std::clamp(readText(reader).trimmed().toInt(), 1, kMaxParallelJobs);
        } else if (name == QLatin1String("rememberPassword")) {
            rememberPassword = readBool(reader);
        } else if (name == QLatin1String("FFMPEGPath")) {
            FFMPEGPath = readText(reader).toUtf8();
        } else if (name == QLatin1String("apiURL")) {
            apiURL = readText(reader).toUtf8();
        } else if (name == QLatin1String("wUsername")) {
            wUsername = readText(reader).toUtf8();
        } else if (name == QLatin1String("wPassword")) {
            wPassword = unscramblePassword(readText(reader));
        } else if (name == QLatin1String("ScanPath")) {
            ScanPath scanPath;
            scanPath.readXml(reader);
            // A folder whose path the error cut off would watch nothing.
            if (!reader.hasError() || !scanPath.path.isEmpty())
                m_scanPaths.append(scanPath);
        } else {
            reader.skipCurrentElement();
        }
    }
}

bool Settings::save(const QString& path, bool honourReset)
{
    // A requested reset leaves an empty file: the next start runs on defaults.
    return writeFile(path, honourReset && resetOnRestart ? QByteArray() : toXml());
}

QByteArray Settings::toXml(bool withRecords) const
{
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("Settings"));
    xmlfields::writeBool(writer, QStringLiteral("showFirstTime_AddWatchFolderDialog"), showFirstTime_AddWatchFolderDialog);
    xmlfields::writeBool(writer, QStringLiteral("hideWhenClosed"), hideWhenClosed);
    if (parallelJobs != 1)
        writer.writeTextElement(QStringLiteral("parallelJobs"), QString::number(parallelJobs));
    xmlfields::writeBool(writer, QStringLiteral("rememberPassword"), rememberPassword);
    xmlfields::writeText(writer, QStringLiteral("FFMPEGPath"), FFMPEGPath);
    xmlfields::writeText(writer, QStringLiteral("apiURL"), apiURL);
    xmlfields::writeText(writer, QStringLiteral("wUsername"), wUsername);
    if (rememberPassword && !passwordInKeychain)
        xmlfields::writeText(writer, QStringLiteral("wPassword"), scramblePassword(wPassword));
    {
        QMutexLocker locker(&m_lock);
        for (const ScanPath& scanPath : std::as_const(m_scanPaths))
            scanPath.writeXml(writer, withRecords);
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    return text;
}

bool Settings::writeFile(const QString& path, const QByteArray& text)
{
    // Written to a temporary file next to the target and renamed over it
    // on commit, so a crash mid-save never leaves a half-written file.
    QSaveFile file(QDir::toNativeSeparators(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    platform::makeOwnerOnly(file);
    // Without a commit the temporary file is discarded and the old file stays.
    return file.write(text) == text.size() && file.commit();
}

void Settings::loginChanged() const
{
    if (m_loginListener)
        m_loginListener();
}

void Settings::addScanPath(const ScanPath& scanPath)
{
    QMutexLocker locker(&m_lock);
    m_scanPaths.append(scanPath);
}

void Settings::renumberScanPaths()
{
    QMutexLocker locker(&m_lock);
    int id = 1;
    for (ScanPath& scanPath : m_scanPaths)
        scanPath.id = id++;
}

QList<ScanPath> Settings::scanPaths() const
{
    QMutexLocker locker(&m_lock);
    return m_scanPaths;
}

ScanPath* Settings::findScanPath(const QString& path, const QString& outputPath, const QByteArray& preset)
{
    QMutexLocker locker(&m_lock);
    for (ScanPath& scanPath : m_scanPaths) {
        if (platform::isSamePath(scanPath.path, path) && platform::isSamePath(scanPath.outputPath, outputPath)
            && scanPath.preset == preset)
            return &scanPath;
    }
    return nullptr;
}

ScanPath* Settings::findDialogScanPath(const QString& path)
{
    QMutexLocker locker(&m_lock);
    for (ScanPath& scanPath : m_scanPaths) {
        if (scanPath.showDialog && platform::isSamePath(scanPath.path, path))
            return &scanPath;
    }
    return nullptr;
}

void Settings::replaceScanPaths(const QList<ScanPath>& newList)
{
    QMutexLocker locker(&m_lock);
    QList<ScanPath> result;
    result.reserve(newList.size());
    for (const ScanPath& entry : newList) {
        const auto current = std::find_if(m_scanPaths.begin(), m_scanPaths.end(),
                                          [&](const ScanPath& s) { return s.id == entry.id; });
        if (current == m_scanPaths.end()) {
            result.append(entry);
            continue;
        }
        ScanPath kept = *current;
        // Another folder under the same id: what was seen in the old one
        // means nothing for the new one; what the entry brings (files the
        // user chose to leave alone) counts instead.
        if (!platform::isSamePath(kept.path, entry.path))
            kept.scannedFiles = entry.scannedFiles;
        kept.assignFrom(entry);
        result.append(kept);
    }
    m_scanPaths = result;
}
