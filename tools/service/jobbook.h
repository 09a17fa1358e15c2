#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <optional>

// Job status codes as the REST interface reports them.
namespace jobstatus {
constexpr int Accepted = 3;
constexpr int Offered = 4;
constexpr int AcceptedByProcessor = 5;
constexpr int Processing = 6;
constexpr int Ready = 8;
constexpr int Failed = 11;
constexpr int InsufficientCredit = 12;
} // namespace jobstatus

struct Job {
    int id = 0;
    int ownerId = 0;
    QString name;
    int presetId = 0;
    QString presetName;
    bool acceptAnyway = true;
    int status = jobstatus::Accepted;
    double percentComplete = 0;
    QDateTime created;
    QDateTime modified;
    double duration = 0;
    qint64 cost = 0;
    QString inputPath;
    QString resultPath;
    // The job fails on purpose (a fault of the chaos mode).
    bool failOnPurpose = false;

    bool finished() const { return status >= jobstatus::Ready; }
    // Every field of the job object except the owner, which the caller adds.
    QJsonObject toJson() const;
};

// All jobs of the running service, shared by the HTTP thread (which adds and
// reads them) and the processing threads (which move them along).
class JobBook {
public:
    explicit JobBook(int firstId = 1) : firstId_(firstId), lastId_(firstId - 1) {}

    // Gives the job the next id and its creation time; returns the id.
    int add(Job job);
    std::optional<Job> find(int id) const;
    void setProgress(int id, int status, double percentComplete);
    void setResult(int id, const QString& resultPath);
    // Forgets every job and numbers the next from the first id again, as a
    // service started anew without its jobs would.
    void forgetAll();

private:
    mutable QMutex mutex_;
    QHash<int, Job> jobs_;
    const int firstId_;
    int lastId_;
};
