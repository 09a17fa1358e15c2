#pragma once

#include "driver/account.h"
#include "pipeline/queuemanager.h"
#include "settings/platform.h"
#include "settings/rememberedlogin.h"
#include "settings/settings.h"

#include <functional>

// The start and the end of a client, the same for the desktop client and
// sonvira-headless: the application's name (and so its configuration
// folder), the guard against a second instance of either, the settings,
// the queue manager and its start, the account, the password kept in the
// keychain, the ffmpeg folder and the audio library. The steps run in the
// order of the calls below; the client's queue driver (which saves the
// queue and settings.xml) ends before finish() and the destructor.
class ClientStartup {
public:
    static const char* const kApplicationName;
    static const char* const kInstanceKey;
    static const char* const kAlreadyRunningText;

    // Before the application object exists: log lines carry the message
    // only, and the application gets its name.
    static void nameApplication();

    ClientStartup();
    // Releases the audio library when it was started.
    ~ClientStartup();
    ClientStartup(const ClientStartup&) = delete;
    ClientStartup& operator=(const ClientStartup&) = delete;

    // After the application object: a termination signal ends the event
    // loop; false when another instance holds the guard.
    bool claimInstance();
    // Why the guard could not be taken when no other instance holds it
    // (a lock that cannot be written); empty otherwise.
    QString instanceFailure() const { return m_instanceGuard.failure(); }
    // The queue manager's start (address override, settings, client
    // library) with `showMessage` for its message box, then the ffmpeg
    // folder; false when the manager could not start.
    bool startEngine(QueueManager::MessageHandler showMessage);
    // Asks the keychain for the remembered password; true when the answer
    // comes later, through `found`, on the event loop.
    bool restoreLogin(std::function<void(bool found)> found);
    // A stored user name, and a password stored or being read.
    bool hasLoginDetails(bool readingPassword) const;
    // Decoding and writing stay usable when this fails; it is reported.
    void startAudio();
    // Once the client stopped, before its driver saves settings.xml: a
    // password the keychain did not confirm stays in the file.
    void finish();

    Settings& settings() { return m_settings; }
    QueueManager& queueManager() { return m_queueManager; }
    Account& account() { return m_account; }
    RememberedLogin& rememberedLogin() { return m_rememberedLogin; }

private:
    platform::SingleInstanceGuard m_instanceGuard;
    Settings m_settings;
    QueueManager m_queueManager;
    Account m_account{m_settings, m_queueManager};
    RememberedLogin m_rememberedLogin{m_settings};
    bool m_audioStarted = false;
};
