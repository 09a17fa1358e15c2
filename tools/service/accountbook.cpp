#include "accountbook.h"

#include <QMutexLocker>
#include <QRandomGenerator>

namespace {

QString newToken()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex());
}

// "demo@sonvira.local" is shown as "demo".
QString displayName(const QString& email)
{
    const int at = email.indexOf(QLatin1Char('@'));
    return at > 0 ? email.left(at) : email;
}

} // namespace

AccountBook::AccountBook(const QList<AccountSpec>& accounts, qint64 credit, int tokenUses)
    : tokenUses_(tokenUses)
{
    QList<AccountSpec> all{{QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword)}};
    all.append(accounts);
    for (const AccountSpec& wanted : all) {
        auto same = std::find_if(accounts_.begin(), accounts_.end(),
                                 [&](const Account& a) { return a.email.compare(wanted.email, Qt::CaseInsensitive) == 0; });
        if (same != accounts_.end()) {
            same->password = wanted.password;
            continue;
        }
        accounts_.append(Account{int(accounts_.size()) + 1, wanted.email, wanted.password, displayName(wanted.email), credit});
    }
}

QString AccountBook::logIn(const QString& email, const QString& password)
{
    QMutexLocker lock(&mutex_);
    for (const Account& account : accounts_) {
        if (account.email.compare(email, Qt::CaseInsensitive) == 0 && account.password == password) {
            const QString token = sameToken_ ? QStringLiteral("same-token-%1").arg(account.id) : newToken();
            tokens_.insert(token, TokenUse{account.id, 0});
            return token;
        }
    }
    return {};
}

int AccountBook::authorise(const QString& token)
{
    QMutexLocker lock(&mutex_);
    auto it = tokens_.find(token);
    if (it == tokens_.end())
        return 0;
    if (tokenUses_ > 0 && it->uses >= tokenUses_) {
        tokens_.erase(it);
        return 0;
    }
    ++it->uses;
    return it->accountId;
}

void AccountBook::expire(const QString& token)
{
    QMutexLocker lock(&mutex_);
    tokens_.remove(token);
}

bool AccountBook::charge(int accountId, qint64 amount)
{
    QMutexLocker lock(&mutex_);
    Account& account = accounts_[accountId - 1];
    if (account.credit < amount)
        return false;
    account.credit -= amount;
    return true;
}

void AccountBook::refund(int accountId, qint64 amount)
{
    QMutexLocker lock(&mutex_);
    accounts_[accountId - 1].credit += amount;
}

QJsonObject AccountBook::ownerJson(int accountId) const
{
    QMutexLocker lock(&mutex_);
    const Account& account = accounts_.at(accountId - 1);
    return QJsonObject{{"id", account.id},
                       {"name", account.name},
                       {"email", account.email},
                       {"credit", double(account.credit)}};
}
