#pragma once

#include "settings/passwordkeychain.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class Settings;

// Keeps the remembered password ("Remember login details") in the system
// keychain instead of settings.xml: the entry of the service "Sonvira
// desktop" under the account's e-mail address. Settings::passwordInKeychain
// tells settings.xml to leave wPassword out while the keychain holds it.
//
// - restore() at start: a password that settings.xml still holds is moved
//   into the keychain (the file loses it at its next save; if the keychain
//   refuses, the file keeps it); a remembered login without one in the file
//   has its password read from the keychain (a locked keychain is told
//   apart from one that holds nothing: keychainLocked()).
// - Settings::loginChanged() (a log-in, a log-out, changed account details)
//   brings the entry up to date: written for a remembered password, removed
//   when the password is forgotten.
// - Without a keychain (no Secret Service in the session, a server), or once
//   it failed, settings.xml keeps the password as it always did; the log
//   says why, once.
// It never waits for the keychain: everything is answered on the event loop.
class RememberedLogin final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RememberedLogin)

public:
    // Installs itself as the settings' login listener until destroyed.
    explicit RememberedLogin(Settings& settings, const QString& service = QString::fromLatin1(PasswordKeychain::kServiceName));
    ~RememberedLogin() override;

    // Called once, after settings.xml was read. True when the password is
    // being read from the keychain: `passwordRead` then gets true once
    // wPassword holds it, false when the keychain has none or cannot be
    // asked (the user must log in).
    bool restore(std::function<void(bool found)> passwordRead);
    // Before the last save at exit: a password whose keychain write is not
    // yet confirmed stays in settings.xml, so it is never lost.
    void keepUnconfirmedInFile();
    // Requests sent to the keychain and not yet answered.
    int pending() const { return m_keychain.pending(); }
    // Why the keychain is not used; empty while it works.
    QString unavailableReason() const { return m_unavailable; }
    // The keychain could not be read at restore() because it is locked.
    bool keychainLocked() const { return m_locked; }

private:
    using Entry = std::pair<QByteArray, QByteArray>; // account, password

    void sync();
    std::optional<Entry> wanted() const;
    void store(const Entry& entry, bool fromFile);
    void stored(const Entry& entry, const PasswordKeychain::Answer& answer, bool fromFile);
    void removeEntry(const QByteArray& account);
    void giveUp(const QString& reason);

    Settings& m_settings;
    PasswordKeychain m_keychain;
    // What the keychain holds as far as this run knows.
    std::optional<Entry> m_held;
    // The entry being written, if any.
    std::optional<Entry> m_writing;
    QString m_unavailable;
    bool m_locked = false;
};
