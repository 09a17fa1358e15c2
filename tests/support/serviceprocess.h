#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs sonvira-service for a test: on 127.0.0.1 with a free port (--port 0)
// plus whatever options the test adds (fault modes, --step-ms, accounts).
// start() waits for the "Listening on ..." line and reads the port from it;
// the destructor stops the service and waits for it to exit.
//
//   ServiceProcess service({"--step-ms", "0", "--fail-jobs"});
//   QVERIFY2(service.start(), qPrintable(service.errorString()));
//   api.setBaseUrl(service.apiUrl().toUtf8());
class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList& extraArguments = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the service and waits up to `timeoutMs` until it listens.
    bool start(int timeoutMs = 15000);
    // Stops the service (SIGTERM, then SIGKILL after a grace period); true
    // when it exited normally with code 0. Otherwise its log is printed as a
    // warning, so a crash or a sanitizer report shows up in the test output.
    bool stop();
    // Ends the service at once with SIGKILL, as a crash would, and waits for it.
    void kill();
    bool isRunning() const;

    // "http://127.0.0.1:PORT/api" once started, empty before.
    QString apiUrl() const { return apiUrl_; }
    quint16 port() const { return port_; }
    QString errorString() const { return error_; }
    // Everything the service wrote on standard error so far: one line per request.
    QByteArray log() const;
    // The body sizes of the uploads (POST /Jobs), in the order they arrived;
    // tells files of different lengths apart.
    QList<qint64> uploadSizes() const;
    int exitCode() const;

    static QString binaryPath();
    static QString demoEmail() { return QStringLiteral("demo@sonvira.local"); }
    static QString demoPassword() { return QStringLiteral("demo"); }

private:
    QStringList arguments_;
    QProcess process_;
    QTemporaryDir logDir_;
    QString apiUrl_;
    quint16 port_ = 0;
    QString error_;
};
