#pragma once

#include <QList>
#include <QString>
#include <QThreadPool>
#include <atomic>

class AccountBook;
class JobBook;
class PresetCatalog;
struct ServiceOptions;

// Processes jobs on worker threads, never on the HTTP thread. Each job walks
// Offered, Accepted by Processor and Processing (reporting the configured
// progress points), then ends Ready, Failed or Insufficient Credit. The
// destructor stops running jobs at their next step and joins the threads.
class JobRunner {
public:
    JobRunner(const ServiceOptions& options, AccountBook& accounts, JobBook& jobs,
              const PresetCatalog& presets, const QString& resultDir);
    ~JobRunner();

    void start(int jobId);

private:
    void run(int jobId);
    bool process(int jobId);
    // Sleeps for the status pace; false when the service is shutting down.
    bool hold();

    const ServiceOptions& options_;
    AccountBook& accounts_;
    JobBook& jobs_;
    const PresetCatalog& presets_;
    const QString resultDir_;
    std::atomic<bool> stopping_{false};
    QThreadPool pool_;
};
