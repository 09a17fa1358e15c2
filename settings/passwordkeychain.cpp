#include "settings/passwordkeychain.h"

#include "settings/platform.h"

#include <qt6keychain/keychain.h>

#include <QStringDecoder>

namespace {

PasswordKeychain::Answer answerOf(const QKeychain::Job& job)
{
    PasswordKeychain::Answer answer;
    switch (job.error()) {
    case QKeychain::NoError:
        answer.outcome = PasswordKeychain::Outcome::Done;
        break;
    case QKeychain::EntryNotFound:
        answer.outcome = PasswordKeychain::Outcome::NotFound;
        break;
    default:
        answer.outcome = PasswordKeychain::Outcome::Failed;
        answer.reason = job.errorString().isEmpty() ? QStringLiteral("error %1").arg(int(job.error()))
                                                    : job.errorString();
        break;
    }
    return answer;
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

PasswordKeychain::PasswordKeychain(QString service, QObject* parent)
    : QObject(parent), m_service(std::move(service))
{
}

// Jobs still running delete themselves when they end; their answers then
// find no receiver.
PasswordKeychain::~PasswordKeychain() = default;

// The jobs are not children of this object: a job in flight inside the
// store's library is left to finish and delete itself.
template <typename JobType>
static void run(PasswordKeychain* owner, int& pending, JobType* job, const QString& account,
                std::function<void(const JobType&)> finished)
{
    job->setAutoDelete(true);
    job->setKey(account);
    ++pending;
    QObject::connect(job, &QKeychain::Job::finished, owner, [owner, &pending, finished](QKeychain::Job* ended) {
        --pending;
        finished(*static_cast<JobType*>(ended));
    });
    job->start();
}

void PasswordKeychain::read(const QString& account, Callback done)
{
    run<QKeychain::ReadPasswordJob>(this, m_pending, new QKeychain::ReadPasswordJob(m_service), account,
                                    [this, done](const QKeychain::ReadPasswordJob& job) {
                                        Answer answer = answerOf(job);
                                        if (answer.outcome == Outcome::Done) {
                                            answer.password = job.binaryData();
                                            done(answer);
                                            return;
                                        }
                                        answerUnlessLocked(answer, done);
                                    });
}

// A locked store answers a read as if it held nothing, or refuses it.
void PasswordKeychain::answerUnlessLocked(const Answer& answer, const Callback& done)
{
    ++m_pending;
    QPointer<PasswordKeychain> self(this);
    platform::askKeychainLocked([self, answer, done](bool locked) {
        if (!self)
            return;
        --self->m_pending;
        Answer told = answer;
        if (locked)
            told.outcome = Outcome::Locked;
        done(told);
    });
}

void PasswordKeychain::write(const QString& account, const QByteArray& password, Callback done)
{
    auto* job = new QKeychain::WritePasswordJob(m_service);
    // Text where it is text, so that the store's own tools show it as the
    // user typed it; other bytes (an old file may hold any) stay bytes.
    if (isUtf8(password))
        job->setTextData(QString::fromUtf8(password));
    else
        job->setBinaryData(password);
    run<QKeychain::WritePasswordJob>(this, m_pending, job, account,
                                     [done](const QKeychain::WritePasswordJob& job) { done(answerOf(job)); });
}

void PasswordKeychain::remove(const QString& account, Callback done)
{
    run<QKeychain::DeletePasswordJob>(this, m_pending, new QKeychain::DeletePasswordJob(m_service), account,
                                      [done](const QKeychain::DeletePasswordJob& job) { done(answerOf(job)); });
}
