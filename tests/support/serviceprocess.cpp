#include "serviceprocess.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int kStopGraceMs = 10000;

QString logPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("service.log"));
}

} // namespace

ServiceProcess::ServiceProcess(const QStringList& extraArguments)
    : arguments_(QStringList{"--listen", "127.0.0.1", "--port", "0"} + extraArguments)
{
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

QString ServiceProcess::binaryPath()
{
    return QStringLiteral(SONVIRA_BIN_DIR "/sonvira-service");
}

bool ServiceProcess::start(int timeoutMs)
{
    // Standard error goes to a file so the service never blocks on a full pipe.
    process_.setStandardErrorFile(logPath(logDir_));
    process_.start(binaryPath(), arguments_);
    if (!process_.waitForStarted(timeoutMs)) {
        error_ = "cannot start " + binaryPath() + ": " + process_.errorString();
        return false;
    }
    static const QRegularExpression ready(QStringLiteral("^Listening on (https?://[^/]+:(\\d+)/api)\\s*$"));
    QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running
            || !process_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (process_.canReadLine())
                break;
            error_ = "the service did not report that it listens; its log: " + QString::fromUtf8(log());
            return false;
        }
    }
    line = process_.readLine();
    const QRegularExpressionMatch match = ready.match(QString::fromUtf8(line));
    if (!match.hasMatch()) {
        error_ = "unexpected first line from the service: " + QString::fromUtf8(line);
        return false;
    }
    apiUrl_ = match.captured(1);
    port_ = quint16(match.captured(2).toUInt());
    return true;
}

bool ServiceProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return process_.exitStatus() == QProcess::NormalExit;
    process_.terminate();
    if (!process_.waitForFinished(kStopGraceMs)) {
        process_.kill();
        process_.waitForFinished(kStopGraceMs);
    }
    const bool clean = process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    if (!clean)
        qWarning().noquote() << "sonvira-service ended with exit code" << process_.exitCode() << "- its log:\n" << log();
    return clean;
}

void ServiceProcess::kill()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    if (!process_.waitForFinished(kStopGraceMs))
        qWarning() << "sonvira-service did not end within" << kStopGraceMs << "ms of SIGKILL";
}

bool ServiceProcess::isRunning() const
{
    return process_.state() == QProcess::Running;
}

QByteArray ServiceProcess::log() const
{
    QFile file(logPath(logDir_));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<qint64> ServiceProcess::uploadSizes() const
{
    QList<qint64> sizes;
    for (const QByteArray& line : log().split('\n')) {
        if (!line.contains("POST /api/Jobs ->"))
            continue;
        // "POST /api/Jobs -> 200 ... | N bytes in, M ms"
        const QByteArray tail = line.mid(line.lastIndexOf('|') + 1).trimmed();
        sizes << tail.left(tail.indexOf(' ')).toLongLong();
    }
    return sizes;
}

int ServiceProcess::exitCode() const
{
    return process_.exitCode();
}
