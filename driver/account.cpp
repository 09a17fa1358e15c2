#include "driver/account.h"

#include "driver/loginrounds.h"
#include "pipeline/queuemanager.h"
#include "pipeline/tokenmanager.h"
#include "settings/settings.h"

#include <QCoreApplication>

#include <cmath>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Account", text);
}

} // namespace

Account::Account(Settings& settings, QueueManager& queueManager)
    : m_settings(settings), m_queueManager(queueManager)
{
}

Account::~Account() = default;

bool Account::canLogIn() const
{
    return m_queueManager.state() == QueueManager::WaitingForLoginInfo;
}

bool Account::canLogOut() const
{
    return QueueManager::isWorking(m_queueManager.state());
}

bool Account::loggedIn() const
{
    return m_queueManager.hasToken();
}

bool Account::logInAccepted() const
{
    const QueueManager::State state = m_queueManager.state();
    return state != QueueManager::WaitingForLoginInfo && QueueManager::isWorking(state);
}

bool Account::credentialsRefused() const
{
    return m_queueManager.state() == QueueManager::WaitingForLoginInfo
        && m_queueManager.statusMessage().startsWith(tokenManager::kRefusedPrefix);
}

void Account::enableLogIn()
{
    m_queueManager.enableLogin();
}

void Account::tryCredentials(const QByteArray& user, const QByteArray& password)
{
    m_queueManager.setCredentials(user, password);
}

void Account::logOut()
{
    m_queueManager.setCredentials(m_settings.wUsername, QByteArray());
    m_settings.wPassword.clear();
    m_settings.loginChanged();
    m_queueManager.logout();
}

bool Account::changeCredentials(const QByteArray& user, const QByteArray& password)
{
    if (user == m_settings.wUsername && password == m_settings.wPassword)
        return false;
    m_settings.wUsername = user;
    m_settings.wPassword = password;
    m_settings.loginChanged();
    m_queueManager.setCredentials(user, password);
    return true;
}

QList<QByteArray> Account::presets() const
{
    return m_queueManager.presets();
}

QByteArray Account::lastPreset() const
{
    return m_queueManager.lastPreset();
}

QByteArray Account::apiUrl() const
{
    return m_queueManager.apiUrl();
}

void Account::setApiUrl(const QByteArray& url)
{
    m_queueManager.setApiUrl(url);
}

QString Account::statusText() const
{
    const QueueManager::State state = m_queueManager.state();
    if (state == QueueManager::WaitingForLoginInfo) {
        const QString message = QString::fromUtf8(m_queueManager.statusMessage());
        if (!message.isEmpty())
            return message;
        // No failed log-in to report: after "Log out" that is the news.
        return m_queueManager.loginEnabled() ? QueueManager::stateName(state) : tr("Logged out");
    }
    const QByteArray notice = m_queueManager.serviceNotice();
    return notice.isEmpty() ? QueueManager::stateName(state) : QString::fromUtf8(notice);
}

QString Account::statusLine() const
{
    QString line = statusText();
    if (!m_queueManager.apiUrl().contains("https:"))
        return line;
    const double credit = std::round(double(m_queueManager.getCredit()) * 100.0) / 100.0;
    return line + tr(" - Credit: ") + (credit >= 0 ? QString::number(credit, 'g', 6) : tr("Waiting for file submission"));
}

void Account::startLoginRounds()
{
    if (!m_loginRounds)
        m_loginRounds = std::make_unique<LoginRounds>(m_queueManager);
    m_loginRounds->start();
}

void Account::stopLoginRounds()
{
    m_loginRounds.reset();
}
