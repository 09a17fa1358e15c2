#include "settings/rememberedlogin.h"

#include "settings/settings.h"

#include <QDebug>

RememberedLogin::RememberedLogin(Settings& settings, const QString& service)
    : m_settings(settings), m_keychain(service)
{
    m_settings.setLoginListener([this] { sync(); });
}

RememberedLogin::~RememberedLogin()
{
    m_settings.setLoginListener({});
}

bool RememberedLogin::restore(std::function<void(bool found)> passwordRead)
{
    if (!m_settings.rememberPassword || m_settings.wUsername.isEmpty())
        return false;
    if (!m_settings.wPassword.isEmpty()) {
        store(Entry{m_settings.wUsername, m_settings.wPassword}, true);
        return false;
    }
    const QByteArray account = m_settings.wUsername;
    m_keychain.read(QString::fromUtf8(account), [this, account, passwordRead](const PasswordKeychain::Answer& answer) {
        if (answer.outcome == PasswordKeychain::Outcome::Failed) {
            giveUp(answer.reason);
            passwordRead(false);
            return;
        }
        m_locked = answer.outcome == PasswordKeychain::Outcome::Locked;
        // The keychain answers: whatever is remembered from now on goes there.
        m_settings.passwordInKeychain = true;
        const bool found = answer.outcome == PasswordKeychain::Outcome::Done && !answer.password.isEmpty();
        if (found && m_settings.wUsername == account && m_settings.wPassword.isEmpty()) {
            m_settings.wPassword = answer.password;
            m_held = Entry{account, answer.password};
            passwordRead(true);
            return;
        }
        passwordRead(false);
    });
    return true;
}

void RememberedLogin::keepUnconfirmedInFile()
{
    if (m_writing)
        m_settings.passwordInKeychain = false;
}

std::optional<RememberedLogin::Entry> RememberedLogin::wanted() const
{
    if (!m_settings.rememberPassword || m_settings.wUsername.isEmpty() || m_settings.wPassword.isEmpty())
        return std::nullopt;
    return Entry{m_settings.wUsername, m_settings.wPassword};
}

void RememberedLogin::sync()
{
    const std::optional<Entry> want = wanted();
    if (!want) {
        // A forgotten password: the entry this run knows of, and the
        // account's entry that an earlier run may have written.
        QByteArray known;
        if (m_held) {
            known = m_held->first;
            removeEntry(known);
            m_held.reset();
        }
        if (m_settings.passwordInKeychain && !m_settings.wUsername.isEmpty() && m_settings.wUsername != known)
            removeEntry(m_settings.wUsername);
        return;
    }
    if (m_held && m_held->first != want->first) {
        removeEntry(m_held->first);
        m_held.reset();
    }
    if (want != m_held && want != m_writing)
        store(*want, false);
}

// A password the file already holds stays there until the keychain has it;
// a new one never reaches the file while the keychain is being asked.
void RememberedLogin::store(const Entry& entry, bool fromFile)
{
    if (!m_unavailable.isEmpty()) {
        m_settings.passwordInKeychain = false;
        return;
    }
    if (!fromFile)
        m_settings.passwordInKeychain = true;
    m_writing = entry;
    m_keychain.write(QString::fromUtf8(entry.first), entry.second,
                     [this, entry, fromFile](const PasswordKeychain::Answer& answer) { stored(entry, answer, fromFile); });
}

void RememberedLogin::stored(const Entry& entry, const PasswordKeychain::Answer& answer, bool fromFile)
{
    if (m_writing == entry)
        m_writing.reset();
    if (answer.outcome != PasswordKeychain::Outcome::Done) {
        giveUp(answer.reason);
        return;
    }
    m_held = entry;
    if (wanted() != entry) {
        // Changed while the keychain was busy: bring it up to date again.
        sync();
        return;
    }
    m_settings.passwordInKeychain = true;
    if (fromFile)
        qInfo().noquote() << "The remembered password was moved from settings.xml to the system keychain";
}

void RememberedLogin::removeEntry(const QByteArray& account)
{
    if (!m_unavailable.isEmpty())
        return;
    m_keychain.remove(QString::fromUtf8(account), [](const PasswordKeychain::Answer& answer) {
        if (answer.outcome == PasswordKeychain::Outcome::Failed)
            qWarning().noquote() << "Could not remove the remembered password from the system keychain:" << answer.reason;
    });
}

void RememberedLogin::giveUp(const QString& reason)
{
    m_settings.passwordInKeychain = false;
    if (!m_unavailable.isEmpty())
        return;
    m_unavailable = reason.isEmpty() ? QStringLiteral("no answer") : reason;
    qWarning().noquote() << "System keychain not available (" + m_unavailable
                                + "): the remembered password is kept in settings.xml";
}
