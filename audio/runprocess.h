#pragma once

#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>

namespace svutil {

// Runs one external program, passes each line of its standard output on as
// it arrives (StatusUpdated, trimmed, empty lines skipped), keeps its last
// standard-error text, and can end it politely and then by force. Lines are
// cut from the stream whatever the reads are: a read holding two writes
// gives two lines, a line split over two reads gives one, and a last line
// without a newline is passed on when the program ends. Lives in the thread that creates it;
// run() with the wait flag blocks that thread while a local event loop
// delivers the process's notifications.
//
// Lines are passed on in order and never from inside a receiver: output that
// arrives while a receiver runs (say, while it waits in killProcess) is
// queued and passed on once that receiver has returned.
//
// Locks: outputLock guards `output`; stateLock serialises the end-of-run
// update and killProcess; messageLock guards `message` and is only ever held
// for a copy. None is held while a signal is emitted or while waiting on the
// process, so a receiver of StatusUpdated may call killProcess.
class RunProcess : public QObject {
    Q_OBJECT

public:
    explicit RunProcess(QObject* parent = nullptr);
    ~RunProcess() override;

    void run(const QString& program, const QStringList& arguments, bool wait);
    // Waits up to firstWaitMs (when not 0) for the program to end by itself,
    // then kills it and waits up to killTimeoutMs.
    void killProcess(int killTimeoutMs, int firstWaitMs);
    // A flag another thread may set to end the program: while run() waits
    // for it, or killProcess for its own end, a set flag kills it within
    // kStopPollMs (waiting up to killTimeoutMs for the kill). The flag must
    // outlive this object; nullptr turns the watch off.
    void setStopFlag(const std::atomic<bool>* stop, int killTimeoutMs);
    static constexpr int kStopPollMs = 50;
    QString lastMessage() const;

    int exitCode() const { return m_exitCode.load(); }
    bool isFinished() const { return m_finished.load(); }
    QString output() const;

signals:
    void StatusUpdated(const QString& output);

private slots:
    void handleStdOutput();
    void handleStdError();
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void setMessage(const QString& text);
    // Cuts the complete lines (all of them with `flush`) off the pending
    // bytes and passes every queued line on, unless that is already going on
    // further up the stack.
    void takeLines(bool flush);
    bool endsByItself(int firstWaitMs);
    bool stopRequested() const { return m_stop && m_stop->load(); }
    void forceEnd(int killTimeoutMs);

    mutable QMutex outputLock;
    QMutex stateLock;
    mutable QMutex messageLock;
    QProcess* process;
    std::atomic<int> m_exitCode{-1};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_killed{false};     // the last run was ended by killProcess
    std::atomic<bool> m_killing{false};    // killProcess is waiting (re-entry guard)
    QString m_output;
    QString m_message;
    QByteArray m_partialLine;
    QStringList m_lines;
    bool m_passingLinesOn = false;
    const std::atomic<bool>* m_stop = nullptr;
    int m_stopKillTimeoutMs = 0;
};

} // namespace svutil
