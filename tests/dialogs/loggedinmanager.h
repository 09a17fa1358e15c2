#pragma once

#include "driver/account.h"
#include "driver/loginrounds.h"
#include "pipeline/queuemanager.h"
#include "settings/settings.h"

#include <QTest>

// A real queue manager on a service, its cycle run in log-in rounds as at
// start-up, and an account on it; the rounds end before the manager goes away.
class LoggedInManager {
public:
    LoggedInManager(const QString& apiUrl, const QByteArray& user, const QByteArray& password)
    {
        manager.createSessions(apiUrl.toUtf8(), 1);
        manager.setCredentials(user, password);
        rounds.start();
    }
    LoggedInManager(const LoggedInManager&) = delete;
    LoggedInManager& operator=(const LoggedInManager&) = delete;

    bool waitForPresets(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([this] { return !manager.presets().isEmpty(); }, timeoutMs);
    }

    QueueManager manager;
    Settings settings;
    Account account{settings, manager};

private:
    LoginRounds rounds{manager};
};
