#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// The real client executable, started the way a user's desktop starts it:
// each sandbox has its own configuration, home, runtime and working folders,
// and the client runs offscreen.
namespace clientprocess {

// One user's environment.
class Sandbox {
public:
    Sandbox();
    // A folder of the sandbox: "config", "home", "runtime" or "work".
    QString path(const char* sub) const;
    QString configFolder() const;
    QString settingsFile() const;
    QString hostFile() const;
    QProcessEnvironment environment() const;

private:
    QTemporaryDir root;
};

// One run of the client in a sandbox. Its standard error goes to a file of
// the sandbox, so a client that logs much never waits for the test.
class ClientRun {
public:
    explicit ClientRun(const Sandbox& sandbox, const QString& program = QStringLiteral("sonvira-desktop"),
                       const QStringList& arguments = {});
    ~ClientRun();
    ClientRun(const ClientRun&) = delete;
    ClientRun& operator=(const ClientRun&) = delete;

    // Everything the client logged so far.
    QString log() const;
    bool logged(const char* line) const;
    // Everything it wrote on standard output so far.
    QString output() const;
    // Writes `input` to its standard input and closes it.
    void write(const QByteArray& input);
    // The exit code of a client that ended; -1000 when it did not end normally.
    int exitCode() const;
    bool running() const;
    // SIGTERM, then the exit code; -1000 when it did not end normally
    // within 20 s.
    int stop();
    // SIGKILL, as a crash or a killed session would end it.
    void crash();

private:
    QProcess process;
    QString logPath;
    QString outputPath;
};

// Waits until `done` holds while the client runs. When the client ends or
// `ms` pass first, prints the client's output and log and `diagnostics()`,
// fails the current test naming `what`, and returns false.
bool waitWhileRunning(const ClientRun& client, const std::function<bool()>& done, int ms, const char* what,
                      const std::function<QString()>& diagnostics);
// The file a stream writes; "<missing>" when it cannot be read.
QByteArray contentOf(const QString& path);
// settings.xml with the demo account's remembered log-in and one watched
// folder `in` whose results go to `out` ("<name>-done"), normalised by
// post-processing to -20 dB RMS.
QByteArray watchedFolderSettings(const QString& apiUrl, const QString& in, const QString& out);
// Writes `content` to `path`, creating its folder; fails the current test
// when it cannot.
void writeFile(const QString& path, const QByteArray& content);

} // namespace clientprocess
