#include "settings/naming.h"

#include "settings/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

namespace naming {

namespace {

// A dangling symbolic link counts as taken: creating a file there would
// write through the link.
bool entryExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString expandNameTemplate(const QString& nameTemplate, const QString& presetName)
{
    // Date and time come from one instant so {date} and {time} agree.
    const QDateTime now = QDateTime::currentDateTime();
    const QString date = QLocale::c().toString(now.date(), QStringLiteral("MM-dd-yy"));
    const QString time = QLocale::c().toString(now.time(), QStringLiteral("HHmmss"));

    static const QRegularExpression illegalRe(QStringLiteral("[<>:\"/\\\\|?*]"));

    // Literal, case-insensitive replacement: a preset name is inserted as it
    // is, never read as a pattern or back-reference.
    QString text = nameTemplate;
    text.replace(QStringLiteral("{presetName}"), presetName, Qt::CaseInsensitive);
    text.replace(QStringLiteral("{date}"), date, Qt::CaseInsensitive);
    text.replace(QStringLiteral("{time}"), time, Qt::CaseInsensitive);
    // Cleaning runs last, so neither a preset name nor a template can
    // introduce a folder or a character the file system refuses.
    text.replace(illegalRe, QStringLiteral("_"));
    return text;
}

QString expandNameTemplateInPath(const QString& path, const QString& presetName)
{
    const QFileInfo info(path);
    return info.absolutePath() + QLatin1Char('/') + expandNameTemplate(info.fileName(), presetName);
}

QString insertSuffix(const QString& fileNameOrPath, const QString& suffix)
{
    const QFileInfo info(fileNameOrPath);
    return info.completeBaseName() + suffix + QLatin1Char('.') + info.suffix();
}

QString pathWithSuffix(const QString& path, const QString& suffix)
{
    const QFileInfo info(path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + suffix + QLatin1Char('.') + info.suffix();
}

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString withExtension(const QString& path, const QString& extension)
{
    const QFileInfo info(path);
    return QDir::toNativeSeparators(info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + extension);
}

QString expandExecutableFolder(const QString& path)
{
    QString text = path;
    text.replace(QStringLiteral("{ExecutableFolder}"), QCoreApplication::applicationDirPath(), Qt::CaseInsensitive);
    return text;
}

QString findBundledPath(const QString& path)
{
    const QString nextToExecutable = expandExecutableFolder(path);
    const QString marker = QStringLiteral("{ExecutableFolder}");
    if (!path.startsWith(marker, Qt::CaseInsensitive) || QFileInfo::exists(nextToExecutable))
        return nextToExecutable;
    const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath()
                                              + QStringLiteral("/../libexec/sonvira/") + path.mid(marker.size()));
    return QFileInfo::exists(installed) ? installed : nextToExecutable;
}

QString appConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

QString tempWorkFolder()
{
    return QDir::toNativeSeparators(platform::privateWorkFolder());
}

bool isSamePath(const QString& a, const QString& b)
{
    return platform::isSamePath(a, b);
}

QString uniqueFileName(const QString& path, bool createFile)
{
    const QFileInfo info(path);
    QString candidate = path;
    if (entryExists(candidate)) {
        candidate.clear();
        for (int counter = 1; counter <= 9999; ++counter) {
            const QString next = QStringLiteral("%1/%2 (%3).%4")
                                     .arg(info.absolutePath(), info.completeBaseName(), QString::number(counter), info.suffix());
            if (!entryExists(next)) {
                candidate = next;
                break;
            }
        }
        // Every numbered name is taken: report failure rather than hand out
        // a name that would overwrite someone's file.
        if (candidate.isEmpty())
            return QString();
    }
    if (createFile) {
        QFile file(candidate);
        // NewOnly: a file that appeared since the test is never truncated.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            qDebug().noquote() << "File created successfully:" << QDir::toNativeSeparators(candidate);
            file.close();
        }
    }
    return QDir::toNativeSeparators(candidate);
}

void showInExplorer(const QString& path, QObject* parent)
{
    // The file manager is started detached, so nothing needs an owner.
    Q_UNUSED(parent);
    const QString target = entryExists(path) ? path : QFileInfo(path).absolutePath();
    platform::revealInFileManager(target);
}

QByteArray destinationRefusal(const QString& destination)
{
    if (!platform::nameFitsFileSystem(destination))
        return QByteArrayLiteral("File name too long");
    const QFileInfo folder(QFileInfo(destination).absolutePath());
    if (folder.isDir() && !folder.isWritable())
        return folderNotWritableText();
    return QByteArray();
}

QByteArray folderNotWritableText()
{
    return QCoreApplication::translate("MainWindow", "The destination folder is not writable.").toUtf8();
}

} // namespace naming
