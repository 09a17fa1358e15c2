#include "headless/login.h"

#include "driver/loginrounds.h"
#include "pipeline/queuemanager.h"
#include "settings/naming.h"
#include "settings/platform.h"
#include "settings/rememberedlogin.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>

#include <iostream>

namespace headless {

const char* const kNoCredentialsText = "No stored log-in details. Store them with:\n"
                                       "    sonvira-headless --login EMAIL\n"
                                       "(it asks for the password on the terminal or reads it from standard input).";

const char* const kKeyringLockedText = "The system keyring that keeps the remembered password is locked; "
                                       "unlock it (log in to the session that owns it, or unlock it with its "
                                       "password) and start again.";

const char* const kUnreadableSettingsText = "sonvira-headless does not run with a settings.xml it cannot read "
                                            "whole; it is left as it is: correct it and start again.";

namespace {

constexpr int kLoginTimeoutMs = 30000;
constexpr int kKeychainTimeoutMs = 10000;

} // namespace

int storeLogin(Settings& settings, QueueManager& queueManager, RememberedLogin& rememberedLogin, const QString& email)
{
    const QByteArray password = platform::readSecretLine(QStringLiteral("Password for %1: ").arg(email)).toUtf8();
    if (password.isEmpty()) {
        std::cerr << "No password given; nothing stored." << std::endl;
        return 1;
    }
    queueManager.setCredentials(email.toUtf8(), password);
    QString reason;
    const bool accepted = LoginRounds::runUntilAnswered(queueManager, kLoginTimeoutMs, reason);
    queueManager.stop();
    if (!accepted) {
        std::cerr << "Log-in refused: " << reason.toLocal8Bit().constData() << "; nothing stored." << std::endl;
        return 1;
    }
    settings.wUsername = email.toUtf8();
    settings.wPassword = password;
    settings.rememberPassword = true;
    settings.apiURL = queueManager.apiUrl();
    settings.loginChanged();
    const QDeadlineTimer keychain(kKeychainTimeoutMs);
    while (rememberedLogin.pending() > 0 && !keychain.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    rememberedLogin.keepUnconfirmedInFile();
    const QString folder = naming::appConfigFolder();
    QDir().mkpath(folder);
    if (!settings.save(folder + QStringLiteral("/settings.xml"), true)) {
        std::cerr << "The log-in details could not be written to " << folder.toLocal8Bit().constData() << std::endl;
        return 1;
    }
    std::cout << "Log-in details of " << email.toLocal8Bit().constData() << " stored." << std::endl;
    return 0;
}

} // namespace headless
