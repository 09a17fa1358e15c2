#include "pipelinefixture.h"

#include "audiofixtures.h"
#include "pipeline/queuemanager.h"
#include "pipeline/sessionmanager.h"
#include "pipeline/tokenmanager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>

namespace pipelinefixture {

QString writeWav(const QString& folder, const QString& name, double seconds)
{
    const QString path = QDir(folder).filePath(name);
    fixtures::Signal signal;
    return fixtures::writeSine(path, seconds, 440.0, 0.5, signal) ? path : QString();
}

bool logInDemo(const QByteArray& apiUrl)
{
    tokenManager tokens;
    tokens.setHost(apiUrl);
    QByteArray error;
    return tokens.login("demo@sonvira.local", "demo", error);
}

bool waitForSessionState(SessionManager& session, int state, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        int current = -1;
        if (session.getState(current) && current == state)
            return true;
        QTest::qWait(5);
    }
    return false;
}

void driveOnce(QueueManager& manager)
{
    manager.cycle(false, false);
    for (QueueFile* file : manager.snapshot()) {
        const QueueFileState state = file->getState();
        if (state == QueueFileState::PreProcessing && !file->preProcessingDone())
            file->markPreProcessingDone();
        if (state == QueueFileState::PostProcessing && !file->postProcessingDone()) {
            file->adoptResultPath();
            file->markPostProcessingDone();
        }
    }
}

bool driveUntil(QueueManager& manager, const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        driveOnce(manager);
        if (done())
            return true;
        QTest::qWait(20);
    }
    return false;
}

QStringList partialFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}

int countLogLines(const QByteArray& log, const QByteArray& text)
{
    int count = 0;
    for (const QByteArray& line : log.split('\n'))
        count += line.contains(text) ? 1 : 0;
    return count;
}

} // namespace pipelinefixture
