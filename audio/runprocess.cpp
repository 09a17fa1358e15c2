#include "audio/runprocess.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QTimer>

#include <algorithm>

namespace svutil {

RunProcess::RunProcess(QObject* parent)
    : QObject(parent)
    , process(new QProcess(this))
{
    connect(process, &QProcess::readyReadStandardOutput, this, &RunProcess::handleStdOutput);
    connect(process, &QProcess::readyReadStandardError, this, &RunProcess::handleStdError);
    connect(process, &QProcess::finished, this, &RunProcess::processFinished);
}

RunProcess::~RunProcess()
{
    // A process still alive here (a run without the wait flag) is ended so
    // that no child outlives its runner.
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(10000);
    }
}

void RunProcess::setMessage(const QString& text)
{
    QMutexLocker lock(&messageLock);
    m_message = text;
}

QString RunProcess::lastMessage() const
{
    QMutexLocker lock(&messageLock);
    return m_message;
}

QString RunProcess::output() const
{
    QMutexLocker lock(&outputLock);
    return m_output;
}

void RunProcess::run(const QString& program, const QStringList& arguments, bool wait)
{
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        process->waitForFinished(30000);
    }
    {
        QMutexLocker lock(&outputLock);
        m_output.clear();
        m_partialLine.clear();
        m_lines.clear();
        setMessage(QString());
        m_exitCode = -1;
        m_finished = false;
        m_killed = false;
    }
    process->start(program, arguments, QIODevice::ReadWrite);
    if (!process->waitForStarted(-1)) {
        const QString error = process->errorString();
        qWarning() << "Failed to start process:" << error;
        QMutexLocker lock(&outputLock);
        setMessage(error);
        m_finished = true;
        return;
    }
    qDebug() << "Process started...";
    if (!wait)
        return;

    QEventLoop loop;
    connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
    // The stop flag is looked at from this thread's own loop: the process
    // belongs to this thread and is killed only here.
    QTimer stopWatch;
    connect(&stopWatch, &QTimer::timeout, this, [this] {
        if (stopRequested())
            killProcess(m_stopKillTimeoutMs, 0);
    });
    if (m_stop)
        stopWatch.start(kStopPollMs);
    if (process->state() != QProcess::NotRunning)
        loop.exec();
    stopWatch.stop();
    takeLines(true);
    {
        QMutexLocker lock(&stateLock);
        m_finished = true;
        m_exitCode = process->exitCode();
        // A kill by killProcess keeps its own message.
        if (process->exitStatus() != QProcess::NormalExit && !m_killed) {
            setMessage(QStringLiteral("Process crashed."));
            qWarning() << "Process crashed.";
        }
    }
    qDebug() << "Process execution finished with exit code:" << m_exitCode.load();
}

void RunProcess::killProcess(int killTimeoutMs, int firstWaitMs)
{
    // Output that arrives while we wait below is delivered on this thread; a
    // receiver that asks for a kill again returns at once instead of waiting
    // on the lock this call holds.
    if (m_killing.exchange(true))
        return;
    {
        QMutexLocker lock(&stateLock);
        if (process->state() == QProcess::NotRunning)
            qDebug() << "No running process to kill.";
        else if (!endsByItself(firstWaitMs))
            forceEnd(killTimeoutMs);
    }
    m_killing = false;
}

void RunProcess::setStopFlag(const std::atomic<bool>* stop, int killTimeoutMs)
{
    m_stop = stop;
    m_stopKillTimeoutMs = killTimeoutMs;
}

// Waits in short slices so that a stop ends the wait.
bool RunProcess::endsByItself(int firstWaitMs)
{
    if (firstWaitMs == 0)
        return false;
    qDebug() << "killProcess.. Waiting for finished";
    const QDeadlineTimer deadline(firstWaitMs);
    while (!stopRequested()) {
        const qint64 left = deadline.remainingTime();
        if (process->state() == QProcess::NotRunning || process->waitForFinished(int(std::min<qint64>(left, kStopPollMs))))
            return true;
        if (left <= kStopPollMs)
            return false;
    }
    return false;
}

void RunProcess::forceEnd(int killTimeoutMs)
{
    qDebug() << "killProcess.. Kill the process";
    m_killed = true;
    process->kill();
    if (process->waitForFinished(killTimeoutMs))
        qDebug() << "Process killed successfully.";
    else
        qWarning() << "Failed to terminate the process within the timeout period.";
    setMessage(QStringLiteral("Process was forcefully killed."));
    m_finished = true;
}

void RunProcess::handleStdOutput()
{
    m_partialLine += process->readAllStandardOutput();
    takeLines(false);
}

void RunProcess::takeLines(bool flush)
{
    int end = -1;
    while ((end = m_partialLine.indexOf('\n')) >= 0 || (flush && !m_partialLine.isEmpty())) {
        const qsizetype length = end >= 0 ? end : m_partialLine.size();
        const QString line = QString::fromLocal8Bit(m_partialLine.left(length)).trimmed();
        m_partialLine.remove(0, end >= 0 ? end + 1 : length);
        if (!line.isEmpty())
            m_lines.append(line);
    }
    if (m_passingLinesOn)
        return;
    m_passingLinesOn = true;
    while (!m_lines.isEmpty()) {
        const QString text = m_lines.takeFirst();
        {
            QMutexLocker lock(&outputLock);
            m_output = text;
        }
        qDebug() << "StdOut:" << text;
        emit StatusUpdated(text);
    }
    m_passingLinesOn = false;
}

void RunProcess::handleStdError()
{
    const QString text = QString::fromLocal8Bit(process->readAllStandardError());
    setMessage(text);
    qDebug() << "StdErr:" << text.trimmed();
}

void RunProcess::processFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // The rest of the output, read before the end was reported.
    m_partialLine += process->readAllStandardOutput();
    takeLines(true);
    if (exitStatus != QProcess::NormalExit) {
        qDebug() << "(signal processFinished) Process crashed.";
    } else {
        m_exitCode = exitCode;
        qDebug() << "(signal processFinished) Process finished with exit code:" << exitCode;
    }
    m_finished = true;
}

} // namespace svutil
