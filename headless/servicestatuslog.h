#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QueueManager;

// Logs the service connection's state each time it changes ("Service:
// Running", "Service: Waiting For Login Info: <reason>"), as the desktop
// client's status bar shows it; looked at once a second.
class ServiceStatusLog : public QObject {
    Q_OBJECT

public:
    explicit ServiceStatusLog(const QueueManager& queueManager);

private:
    void check();

    const QueueManager& m_queueManager;
    QTimer m_timer;
    QString m_last;
};
