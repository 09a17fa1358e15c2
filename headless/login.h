#pragma once

#include <QString>

class QueueManager;
class RememberedLogin;
class Settings;

namespace headless {

// The exit code and the message of a start without stored log-in details.
constexpr int kNoCredentials = 2;
extern const char* const kNoCredentialsText;
// The exit code and the message of a start whose remembered password is in
// a keyring that is locked (not missing: the start may succeed later).
constexpr int kKeyringLocked = 3;
extern const char* const kKeyringLockedText;
// The exit code and the message of a start with a settings.xml that could
// not be read whole (the file is left as it is).
constexpr int kUnreadableSettings = 4;
extern const char* const kUnreadableSettingsText;

// --login EMAIL: reads the password (from the terminal without echo, or the
// first line of standard input), logs in to the service with it and, when
// the service accepts it, stores the log-in details as the desktop client's
// "Remember login details" does (the password in the system keychain, or in
// settings.xml where none answers). Returns the exit code: 0 stored, 1
// refused or not checked (the reason on standard error).
int storeLogin(Settings& settings, QueueManager& queueManager, RememberedLogin& rememberedLogin, const QString& email);

} // namespace headless
