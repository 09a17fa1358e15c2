#pragma once

#include "pipeline/queuemanager.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

// A real queue manager on a service, its cycle driven on a thread of its
// own as the main window's timer would; the thread is joined before the
// manager goes away.
class LoggedInManager {
public:
    LoggedInManager(const QString& apiUrl, const QByteArray& user, const QByteArray& password)
    {
        manager.createSessions(apiUrl.toUtf8(), 1);
        manager.setCredentials(user, password);
        cycles = std::thread([this] {
            while (!stopping) {
                manager.cycle(false, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~LoggedInManager()
    {
        stopping = true;
        cycles.join();
    }
    LoggedInManager(const LoggedInManager&) = delete;
    LoggedInManager& operator=(const LoggedInManager&) = delete;

    bool waitForPresets(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([this] { return !manager.presets().isEmpty(); }, timeoutMs);
    }

    QueueManager manager;

private:
    std::atomic<bool> stopping{false};
    std::thread cycles;
};
