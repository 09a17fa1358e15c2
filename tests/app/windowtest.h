#pragma once

#include "clientfixture.h"
#include "serviceprocess.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The frame of a main-window test class: every test function gets a fresh
// temporary folder and a fresh window on a queue manager, under the test
// mode's settings and queue folders (never the user's own), and may start
// the reference service and log the window in to it. Qt Test runs the
// initTestCase, init and cleanup slots declared here for the derived class.
class WindowTest : public QObject {
    Q_OBJECT

protected:
    enum class Start {
        // The window's timers run from the start, without sessions: files
        // stay where the test puts them until it logs in.
        LoggedOut,
        // The window starts with the log-in (startService, ClientFixture::logIn).
        AtLogIn,
    };
    explicit WindowTest(Start start);

    // The reference service with 20 ms job steps and the given options,
    // and the window logged in to it.
    bool startService(const QStringList& options = {});
    // A 440 Hz sine in the test's folder; its native path, or "" when it
    // could not be written.
    QString wav(const QString& name, int channels = 2, double seconds = 1.0) const;
    static bool waitForState(QueueFile* file, QueueFileState state, int timeoutMs = 60000);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<ClientFixture> client;

private slots:
    void initTestCase();
    void init();
    void cleanup();

private:
    const Start m_start;
};
