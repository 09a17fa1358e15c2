#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace svutil {
class RunProcess;
}

// Runs the local steps before upload, one after another on a worker thread
// of its own (with no operation to run, start() ends the step at once): noise reduction by the external noise-suppression program
// ("nredOp00: <arguments>" lines) and mono-to-stereo conversion ("mstOp00"
// lines). Operation i writes outputFile + i; the newest intermediate ends up
// as outputFile and the others are deleted. The GUI thread polls statusText()
// and isFinished().
//
// Lock order: runnerLock, then statusLock (the forced end of the tool sets
// no status); neither is held by the GUI thread for longer than a copy.
class PreProcessing : public QObject {
    Q_OBJECT

public:
    explicit PreProcessing(QObject* parent = nullptr);
    ~PreProcessing() override;

    void setArguments(const QString& arguments) { m_arguments = arguments; }
    void setInputFile(const QString& path) { m_inputFile = path; }
    void setOutputFile(const QString& path) { m_outputFile = path; }
    // Templates of the tool and its model folder ({ExecutableFolder} is
    // expanded when an operation starts).
    void setNoiseReductionExecutable(const QString& path) { m_noiseReductionExecutable = path; }
    void setNoiseReductionModelPath(const QString& path) { m_noiseReductionModelPath = path; }
    // How long the tool may take to exit after "File Ready" before it is
    // killed, and how long the kill may take.
    void setKillTimeouts(int killTimeoutMs, int firstWaitMs);

    // Called on the worker thread once its operations have ended, after
    // isFinished() holds (the object may be gone by then: the call must not
    // use it). Steps with nothing to run end inside start() and make no call.
    void setOnFinished(std::function<void()> finished) { m_onFinished = std::move(finished); }
    // Throws std::runtime_error "PreProcessing: Start already called" when
    // called twice.
    void start();
    // Asks a running step to end early, from any thread, without waiting:
    // the noise tool is killed, no further operation starts, and the step
    // ends unsucceeded without leaving a work file. Destroying the object
    // stops it too.
    void stop() { m_stopRequested = true; }
    bool isFinished() const { return m_finished.load(); }
    bool succeeded() const { return m_succeeded.load(); }
    QString statusText() const;
    QString errorMessage() const { return m_errorMessage; }
    QString outputFile() const { return m_outputFile; }
    QString inputFile() const { return m_inputFile; }
    QString arguments() const { return m_arguments; }
    int operationsDone() const { return m_operationsDone; }
    int stereoConversions() const { return m_stereoConversions; }
    // "-nr" per noise-reduction line and "-dualmono" per mono-to-stereo line
    // that is not SKIP, in line order.
    QString fileNameSuffix() const;

    static QStringList splitOperations(const QString& arguments);

public slots:
    void _processingThreadProc();
    void StatusUpdated(const QString& text);

private:
    enum Outcome { Failed = 0, Produced = 1, Skipped = 2 };
    // Whether any line is an operation (other lines are skipped).
    bool hasOperations() const;
    void runOperations();
    Outcome noiseReductionOperation(const QString& argument);
    Outcome monoToStereoOperation(const QString& argument);
    QString operationInput() const;
    QString operationOutput() const;
    void finishFiles();
    void removeWorkFiles();
    void setStatus(const QString& text);

    QString m_noiseReductionExecutable;
    QString m_noiseReductionModelPath;
    const QString m_noiseReductionTag = QStringLiteral("nredOp00");
    const QString m_monoToStereoTag = QStringLiteral("mstOp00");
    QString m_inputFile;
    QString m_outputFile;
    QString m_arguments;
    QStringList m_operations;
    QString m_currentFile;
    int m_operationIndex = -1;
    bool m_started = false;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_succeeded{false};
    std::atomic<bool> m_stopRequested{false};
    int m_operationsDone = 0;
    svutil::RunProcess* m_runner = nullptr;
    QString m_errorMessage;
    QString m_statusText = QStringLiteral("Processing");
    QStringList m_intermediateFiles;
    bool m_fileReady = false;
    int m_stereoConversions = 0;
    mutable QMutex statusLock;
    QMutex runnerLock;
    int m_killTimeoutMs = 10000;
    int m_killFirstWaitMs = 60000;
    QThread* m_homeThread = nullptr;
    std::unique_ptr<QThread> m_workerThread;
    std::function<void()> m_onFinished;
};
