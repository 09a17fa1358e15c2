#pragma once

#include "serviceoptions.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>

// The service's accounts, their credit and the bearer tokens handed out at
// log-in. Used from the HTTP thread and the processing threads, so every
// member is guarded by one mutex.
class AccountBook {
public:
    // `accounts` may repeat an e-mail address; the last password wins.
    AccountBook(const QList<AccountSpec>& accounts, qint64 credit, int tokenUses);

    // Every log-in of an account gets the same token back (a fault mode).
    void setSameToken(bool same) { sameToken_ = same; }
    // A new token for valid credentials, empty otherwise.
    QString logIn(const QString& email, const QString& password);

    // The account id a token belongs to, or 0 when the token is unknown or
    // used up. Counts one authorised request against the token.
    int authorise(const QString& token);
    // The token stops working at once.
    void expire(const QString& token);

    // Takes `amount` from the account's credit; false (and nothing taken)
    // when the credit does not cover it.
    bool charge(int accountId, qint64 amount);
    void refund(int accountId, qint64 amount);

    // {"id", "name", "email", "credit"} of an account.
    QJsonObject ownerJson(int accountId) const;

private:
    struct Account {
        int id = 0;
        QString email;
        QString password;
        QString name;
        qint64 credit = 0;
    };
    struct TokenUse {
        int accountId = 0;
        int uses = 0;
    };

    mutable QMutex mutex_;
    QList<Account> accounts_;
    QHash<QString, TokenUse> tokens_;
    const int tokenUses_;
    bool sameToken_ = false;
};
