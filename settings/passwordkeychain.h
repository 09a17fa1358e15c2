#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

// The operating system's password store (the Secret Service or KWallet on
// Linux, the Credential Manager on Windows, the Keychain on macOS), asked
// through QtKeychain under one service name, one entry per account.
//
// Every call returns at once: the store may take its time (a locked keyring
// asks its owner for its password first), so the answer comes later, on the
// calling thread's event loop, through the callback. A callback is never
// called after the PasswordKeychain is destroyed. Use it on a thread that
// runs an event loop (the GUI thread, or a headless client's main thread).
class PasswordKeychain final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PasswordKeychain)

public:
    static constexpr const char* kServiceName = "Sonvira desktop";

    enum class Outcome {
        Done,     // stored, read or removed
        NotFound, // no entry for the account
        Failed,   // no store runs, or it refused (the reason says which)
        Locked,   // read() only: the store is there but locked, so it could
                  // not be read (its owner must unlock it)
    };
    struct Answer {
        Outcome outcome = Outcome::Failed;
        QByteArray password; // read() only
        QString reason;      // Failed only
    };
    using Callback = std::function<void(const Answer&)>;

    explicit PasswordKeychain(QString service = QString::fromLatin1(kServiceName), QObject* parent = nullptr);
    ~PasswordKeychain() override;

    void read(const QString& account, Callback done);
    void write(const QString& account, const QByteArray& password, Callback done);
    void remove(const QString& account, Callback done);
    // Requests sent and not yet answered.
    int pending() const { return m_pending; }

private:
    void answerUnlessLocked(const Answer& answer, const Callback& done);

    const QString m_service;
    int m_pending = 0;
};
