#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <limits>
#include <thread>

// Runs the local steps after download on a worker thread of its own: a file
// that had been widened from mono is turned back into mono (left channel),
// then every file is normalised to each target of the "normOp00: <value>
// LUFS|dBrms" lines, each target giving its own "<name> <value> <unit>.tmp"
// output. One object serves one file; the GUI thread polls statusText() and
// isFinished() and reads the results after the end.
class PostProcessing {
public:
    PostProcessing() = default;
    // Stops the worker and waits for it.
    ~PostProcessing();
    PostProcessing(const PostProcessing&) = delete;
    PostProcessing& operator=(const PostProcessing&) = delete;

    void setInputFile(const QString& path) { m_inputFile = path; }
    void setArguments(const QString& arguments) { m_arguments = arguments; }
    void setConvertToMono(bool on) { m_convertToMono = on; }
    void setKeepStereo(bool on) { m_keepStereo = on; }
    // dBTP; with a ceiling (not NaN) each output's true peak stays at or
    // below it: the target's gain plus a look-ahead true-peak limiter.
    void setTruePeakCeiling(double dbtp) { m_truePeakCeiling = dbtp; }

    // Called on the worker thread once the steps have ended, after
    // isFinished() holds.
    void setOnFinished(std::function<void()> finished) { m_onFinished = std::move(finished); }
    // Throws std::runtime_error "PostProcessing: started already called" when
    // called twice.
    void start();
    // Asks a running step to end early, from any thread, without waiting:
    // the measurement or render at work stops, no further one starts, and
    // the step ends with failureText() "Stopped", without outputs and
    // without the mono file; the input stays.
    void stop() { m_stopRequested = true; }
    bool isFinished() const { return m_finished.load(); }
    QString statusText() const;

    // Read after isFinished().
    QStringList outputFiles() const { return m_outputFiles; }
    bool convertedToMono() const { return m_convertedToMono; }
    QString monoFile() const { return m_monoFile; }
    // One line per file that could not be measured or rendered (empty when
    // all were): "Error measuring <file>: <reason>", "Error rendering
    // <output>", "Error normalising <file>: ..." for a gain that is not a
    // finite number. Such a file gets no output for that target. After a
    // mono conversion that leads to no output at all, the stereo input is
    // kept and the failure says so.
    QString failureText() const { return m_failureText; }
    // One line per output that stays away from its target because reaching
    // it would need more than CeilingRender::kMaxLimitingDb of true-peak
    // limiting (empty when every output reached its target).
    QString notes() const { return m_notes; }

    // Reads "<number> lufs" / "<number> dbrms" (any case); false otherwise.
    static bool parseTarget(const QString& argument, float& target, QString& unit);
    // Linear gain that moves `measured` to `target`; 1.0 for an infinite
    // measurement (silence under the gates, empty files).
    static float gainFor(float target, double measured);
    static QString outputName(const QString& file, float target, const QString& unit);
    // The outputs a run on `input` with `arguments` writes, one per target
    // line in line order; with `toMono` they come from the mono file.
    static QStringList plannedOutputs(const QString& input, const QString& arguments, bool toMono);
    static QString monoFileName(const QString& inputFile);

private:
    void run();
    void monoStep();
    // After a mono conversion: deletes the stereo input unless it is kept
    // or no final output exists; with no output the file fails.
    void keepOrRemoveStereo();
    // After a stop: removes what the run has written.
    void discardOutputs();
    void normalize(const QString& argument);
    void normalizeFile(const QString& file, float target, const QString& unit);
    // With a ceiling: renders `output` through CeilingRender; false when a
    // render failed.
    bool renderWithCeiling(const QString& file, const QString& output, float target, const QString& unit,
                           double measured, double truePeak);
    void addFailure(const QString& line);
    void addNote(const QString& line);
    void setStatus(const QString& text);

    static constexpr QLatin1String m_normalizeTag{"normOp00"};
    bool m_convertToMono = false;
    bool m_keepStereo = false;
    QString m_inputFile;
    QStringList m_outputFiles;
    QString m_arguments;
    QString m_monoFile;
    QStringList m_operations;
    int m_operationIndex = -1;
    bool m_started = false;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_stopRequested{false};
    bool m_convertedToMono = false;
    QString m_statusText = QStringLiteral("Processing");
    QStringList m_filesToNormalise;
    QString m_failureText;
    QString m_notes;
    double m_truePeakCeiling = std::numeric_limits<double>::quiet_NaN();
    mutable QMutex statusLock;
    std::function<void()> m_onFinished;
    std::thread m_worker;
};
