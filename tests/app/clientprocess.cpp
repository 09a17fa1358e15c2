#include "clientprocess.h"

#include "settingsxml.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <atomic>
#include <csignal>

namespace clientprocess {

Sandbox::Sandbox()
{
    QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char* sub : {"config", "home", "runtime", "work"})
        QDir(root.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString Sandbox::path(const char* sub) const
{
    return root.filePath(QString::fromLatin1(sub));
}

QString Sandbox::configFolder() const
{
    return path("config") + QStringLiteral("/Sonvira desktop");
}

QString Sandbox::settingsFile() const
{
    return configFolder() + QStringLiteral("/settings.xml");
}

QString Sandbox::hostFile() const
{
    return path("work") + QStringLiteral("/host.txt");
}

QProcessEnvironment Sandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
    env.insert(QStringLiteral("HOME"), path("home"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("runtime"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    // The client reaches no session bus, and so no keychain of the user's,
    // unless the test runs in a private Secret Service of its own.
    if (!env.contains(QStringLiteral("SONVIRA_TEST_SECRET_SERVICE"))) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + path("runtime") + QStringLiteral("/no-bus"));
        env.remove(QStringLiteral("DISPLAY"));
    }
    return env;
}

ClientRun::ClientRun(const Sandbox& sandbox, const QString& program, const QStringList& arguments)
{
    static std::atomic<int> runs{0};
    logPath = sandbox.path("work") + QStringLiteral("/client-%1.log").arg(++runs);
    outputPath = logPath + QStringLiteral(".out");
    process.setProcessEnvironment(sandbox.environment());
    process.setWorkingDirectory(sandbox.path("work"));
    process.setStandardErrorFile(logPath);
    process.setStandardOutputFile(outputPath);
    process.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, arguments);
    process.waitForStarted(10000);
}

QString ClientRun::output() const
{
    return QString::fromUtf8(contentOf(outputPath));
}

void ClientRun::write(const QByteArray& input)
{
    process.write(input);
    process.closeWriteChannel();
}

int ClientRun::exitCode() const
{
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
}

ClientRun::~ClientRun()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString ClientRun::log() const
{
    return QString::fromUtf8(contentOf(logPath));
}

bool ClientRun::logged(const char* line) const
{
    return log().split(QLatin1Char('\n')).contains(QString::fromUtf8(line));
}

bool ClientRun::running() const
{
    return process.state() == QProcess::Running;
}

int ClientRun::stop()
{
    process.terminate();
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return -1000;
    return process.exitCode();
}

void ClientRun::crash()
{
    ::kill(process.processId(), SIGKILL);
    process.waitForFinished(10000);
}

bool waitWhileRunning(const ClientRun& client, const std::function<bool()>& done, int ms, const char* what,
                      const std::function<QString()>& diagnostics)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && client.running() && !deadline.hasExpired())
        QTest::qWait(20);
    if (done())
        return true;
    qWarning().noquote() << "The client's output:\n" << client.output() << "\nThe client's log:\n" << client.log()
                         << "\n" << diagnostics();
    const QString why = client.running() ? QStringLiteral("within %1 s").arg(ms / 1000) : QStringLiteral("before the client ended");
    QTest::qFail(qPrintable(QStringLiteral("not reached %1: %2").arg(why, QString::fromUtf8(what))), __FILE__, __LINE__);
    return false;
}

// One watched folder, results in a folder of their own, normalised by
// post-processing.
QByteArray watchedFolderSettings(const QString& apiUrl, const QString& in, const QString& out)
{
    return settingsxml::oneWatchedFolder({in, out, QStringLiteral("-done")}, apiUrl);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(content) == content.size());
}

} // namespace clientprocess
