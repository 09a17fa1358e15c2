#include "driver/clientstartup.h"

#include "audio/audiolibrary.h"
#include "settings/startupconfig.h"
#include "video/ffmpegtool.h"

#include <QCoreApplication>

#include <iostream>

const char* const ClientStartup::kApplicationName = "Sonvira desktop";
const char* const ClientStartup::kInstanceKey = "SonviraDesktopClientQTKey";
const char* const ClientStartup::kAlreadyRunningText = "Another instance of the Sonvira client is already running.";

void ClientStartup::nameApplication()
{
    qSetMessagePattern(QStringLiteral("%{message}"));
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
}

ClientStartup::ClientStartup()
    : m_instanceGuard(QString::fromLatin1(kInstanceKey))
{
}

ClientStartup::~ClientStartup()
{
    if (m_audioStarted)
        audiolib::release();
}

bool ClientStartup::claimInstance()
{
    platform::quitOnTerminationSignals();
    return m_instanceGuard.tryAcquire();
}

bool ClientStartup::startEngine(QueueManager::MessageHandler showMessage)
{
    m_queueManager.setMessageHandler(std::move(showMessage));
    startup::applyHostOverride();
    if (!m_queueManager.init(&m_settings))
        return false;
    ffmpegtool::setFfmpegFolder(QString::fromUtf8(m_settings.FFMPEGPath));
    return true;
}

bool ClientStartup::restoreLogin(std::function<void(bool found)> found)
{
    return m_rememberedLogin.restore(std::move(found));
}

bool ClientStartup::hasLoginDetails(bool readingPassword) const
{
    return !m_settings.wUsername.isEmpty() && (!m_settings.wPassword.isEmpty() || readingPassword);
}

void ClientStartup::startAudio()
{
    m_audioStarted = true;
    if (!audiolib::initialize())
        std::cerr << audiolib::kInitErrorText << audiolib::lastErrorCode() << std::endl;
}

void ClientStartup::finish()
{
    m_rememberedLogin.keepUnconfirmedInFile();
}
