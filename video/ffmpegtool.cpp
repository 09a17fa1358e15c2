#include "video/ffmpegtool.h"

#include "settings/platform.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kSilenceTimeoutMs = 10000;
constexpr int kKillTimeoutMs = 5000;
constexpr qsizetype kMaxVersionOutput = 64 * 1024;

const QString kVersionMarker = QStringLiteral("ffmpeg version");

QString g_ffmpegFolder;
QString g_ffmpegVersionText;

// Reads until the program ends, falls silent for too long or has said more
// than any version text needs.
QByteArray readAllOutput(QProcess& process)
{
    QByteArray output;
    while (output.size() < kMaxVersionOutput && process.waitForReadyRead(kSilenceTimeoutMs))
        output += process.readAll();
    output += process.readAll();
    return output.left(kMaxVersionOutput);
}

void endIfRunning(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(kKillTimeoutMs);
}

} // namespace

namespace ffmpegtool {

QString programIn(const QString& folder)
{
    return folder + QLatin1Char('/') + platform::executableName(QStringLiteral("ffmpeg"));
}

QString resolveFolder(const QString& configured)
{
    if (!configured.isEmpty())
        return configured;
    const QString found = QStandardPaths::findExecutable(platform::executableName(QStringLiteral("ffmpeg")));
    return found.isEmpty() ? QString() : QFileInfo(found).absolutePath();
}

bool checkFfmpeg(const QString& folder, QString& versionText)
{
    versionText.clear();
    const QString resolved = resolveFolder(folder);
    if (resolved.isEmpty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(programIn(resolved), {QStringLiteral("-version")}, QIODevice::ReadWrite);
    if (!process.waitForStarted(kStartTimeoutMs)) {
        endIfRunning(process);
        return false;
    }
    const QByteArray output = readAllOutput(process);
    endIfRunning(process);
    versionText = QString::fromLocal8Bit(output);
    qDebug().noquote() << versionText;
    return versionText.contains(kVersionMarker, Qt::CaseSensitive);
}

void setFfmpegFolder(const QString& folder)
{
    QString versionText;
    checkFfmpeg(folder, versionText);
    g_ffmpegFolder = resolveFolder(folder);
    g_ffmpegVersionText = versionText;
}

bool isFfmpegAvailable()
{
    qDebug() << "ffmpeg folder:" << g_ffmpegFolder;
    return g_ffmpegVersionText.contains(kVersionMarker, Qt::CaseSensitive);
}

QString ffmpegFolder()
{
    return g_ffmpegFolder;
}

QString ffmpegVersionText()
{
    return g_ffmpegVersionText;
}

} // namespace ffmpegtool
