#include "pipeline/tokenmanager.h"

#include <QDebug>

tokenManager::~tokenManager()
{
    qDebug() << "~tokenManager";
}

bool tokenManager::testCall(QString& message)
{
    message = QStringLiteral("Test call OK");
    return true;
}

const QByteArray tokenManager::kRefusedPrefix = "Can't log in: ";

bool tokenManager::login(const QByteArray& user, const QByteArray& password, QByteArray& errorOut)
{
    if (!m_enabled)
        return false;
    errorOut.clear();
    const bool ok = m_api.login(QString::fromUtf8(user), QString::fromUtf8(password));
    errorOut = m_api.lastError().toUtf8();
    if (errorOut.startsWith("401"))
        errorOut = kRefusedPrefix + "Invalid username/password (401)";
    else if (errorOut.startsWith("400"))
        errorOut = kRefusedPrefix + "No username/password (400)";
    return ok;
}

QByteArray tokenManager::currentToken() const
{
    return WebAPI::token().toUtf8();
}

bool tokenManager::hasToken() const
{
    return !WebAPI::token().isEmpty();
}

void tokenManager::logout()
{
    WebAPI::invalidateToken(QString(), true);
}

void tokenManager::setHost(const QByteArray& url)
{
    WebAPI::setSessionHostUrl(url);
    m_api.setBaseUrl(url);
    WebAPI::invalidateToken(QString(), true);
}
