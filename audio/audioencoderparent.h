#pragma once

#include <QMetaType>
#include <QString>

// One encoding job as the encoder lists see it: a source, an output, option
// text, a worker that starts once, progress and a one-line status text.
// Every operation may be called from the GUI thread while the job's worker
// runs.
class audioEncoderParent {
public:
    virtual ~audioEncoderParent() = default;

    virtual void setInputFile(const QString& path) = 0;
    virtual void setOutputFile(const QString& path) = 0;
    virtual QString inputFile() const = 0;
    virtual QString outputFile() const = 0;
    // Starts the worker; false when it was started before or cannot start.
    virtual bool start() = 0;
    // Stops a running worker and waits for it; false when there was none.
    virtual bool cancel() = 0;
    // True while no worker runs: before start and once the worker has ended.
    virtual bool isFinished() const = 0;
    // Fraction 0..1 of the source consumed.
    virtual float progress() const = 0;
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    virtual QString statusText() const = 0;
};

Q_DECLARE_METATYPE(audioEncoderParent*)
