#pragma once

#include "apirequest.h"

#include <QString>
#include <QList>

#include <atomic>
#include <memory>

class AccountBook;
class JobBook;
class JobRunner;
class PresetCatalog;
struct ServiceOptions;

// The REST endpoints: log-in, presets, job submission, job status and result.
// Knows nothing of sockets; the server turns the replies into HTTP.
class ApiRoutes {
public:
    ApiRoutes(const ServiceOptions& options, AccountBook& accounts, JobBook& jobs, JobRunner& runner,
              const PresetCatalog& presets, const QString& uploadDir);

    ApiReply handle(const ApiRequest& request);

private:
    ApiReply logIn(const ApiRequest& request);
    ApiReply presetList() const;
    ApiReply submitJob(const ApiRequest& request, int accountId);
    ApiReply jobStatus(int jobId, int accountId) const;
    ApiReply jobResult(int jobId, int accountId);
    // The account a request's bearer token belongs to, 0 when not authorised.
    int authorise(const ApiRequest& request);
    // The 503 and redirect faults, before anything else; false when none applies.
    bool injectedFault(const ApiRequest& request, ApiReply& reply);

    const ServiceOptions& options_;
    AccountBook& accounts_;
    JobBook& jobs_;
    JobRunner& runner_;
    const PresetCatalog& presets_;
    const QString uploadDir_;
    std::atomic<int> uploadCounter_{0};
    std::atomic<bool> restarted_{false};
    QList<std::shared_ptr<std::atomic<int>>> unavailableServed_;
};
