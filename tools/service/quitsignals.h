#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a normal event-loop exit, so that
// the service cleans up (joins its workers, removes its temporary folder)
// when it is stopped from outside.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    static void onSignal(int signal);

    QSocketNotifier* notifier_ = nullptr;
};
