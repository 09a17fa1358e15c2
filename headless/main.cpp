#include "headless/headlessfrontend.h"
#include "headless/headlessoptions.h"
#include "headless/login.h"
#include "headless/servicestatuslog.h"

#include "audio/audiolibrary.h"
#include "driver/account.h"
#include "driver/queuedriver.h"
#include "pipeline/queuemanager.h"
#include "settings/platform.h"
#include "settings/rememberedlogin.h"
#include "settings/settings.h"
#include "settings/startupconfig.h"
#include "video/ffmpegtool.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>

#include <iostream>

namespace {

// The same configuration folder and the same guard as the desktop client.
const char* const kApplicationName = "Sonvira desktop";
const char* const kInstanceKey = "SonviraDesktopClientQTKey";

} // namespace

int main(int argc, char* argv[])
{
    const headless::Options options = headless::parseOptions(argc, argv);
    if (options.exitCode)
        return *options.exitCode;
    // Warnings on standard error, the client's own chatter left out: the
    // events are the lines on standard output.
    qSetMessagePattern(QStringLiteral("%{message}"));
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QCoreApplication app(argc, argv);
    platform::quitOnTerminationSignals();

    platform::SingleInstanceGuard instanceGuard(QString::fromLatin1(kInstanceKey));
    if (!instanceGuard.tryAcquire()) {
        const QString failure = instanceGuard.failure();
        std::cerr << (failure.isEmpty() ? "Another instance of the Sonvira client is already running."
                                        : failure.toLocal8Bit().toStdString())
                  << std::endl;
        return 1;
    }

    Settings settings;
    QueueManager queueManager;
    queueManager.setMessageHandler(
        [](const QString& title, const QString& text) { qWarning().noquote() << title + QStringLiteral(": ") + text; });
    startup::applyHostOverride();
    if (!queueManager.init(&settings))
        return 1;
    RememberedLogin rememberedLogin(settings);
    if (!options.loginEmail.isEmpty())
        return headless::storeLogin(settings, queueManager, rememberedLogin, options.loginEmail);
    Account account(settings, queueManager);
    // A password kept in the keychain arrives on the event loop: the queue
    // manager logs in with it then, or the client ends as without one.
    const bool readingPassword = rememberedLogin.restore([&settings, &account](bool found) {
        if (found) {
            account.tryCredentials(settings.wUsername, settings.wPassword);
            return;
        }
        std::cerr << headless::kNoCredentialsText << std::endl;
        QCoreApplication::exit(headless::kNoCredentials);
    });
    if (settings.wUsername.isEmpty() || (settings.wPassword.isEmpty() && !readingPassword)) {
        std::cerr << headless::kNoCredentialsText << std::endl;
        return headless::kNoCredentials;
    }
    ffmpegtool::setFfmpegFolder(QString::fromUtf8(settings.FFMPEGPath));
    if (!audiolib::initialize())
        std::cerr << audiolib::kInitErrorText << audiolib::lastErrorCode() << std::endl;

    int exitCode = 0;
    {
        HeadlessFrontEnd frontEnd;
        QueueDriver driver(settings, queueManager, frontEnd);
        driver.start();
        driver.startTimers();
        ServiceStatusLog statusLog(account);
        HeadlessFrontEnd::log(QStringLiteral("Started: ") + QString::number(settings.scanPathRecords().size())
                              + QStringLiteral(" watched folders, service ") + QString::fromUtf8(queueManager.apiUrl()));
        exitCode = QCoreApplication::exec();
        HeadlessFrontEnd::log(QStringLiteral("Stopping"));
        // The driver's end saves settings.xml.
        rememberedLogin.keepUnconfirmedInFile();
    }
    audiolib::release();
    HeadlessFrontEnd::log(QStringLiteral("Stopped: queue and settings saved"));
    return exitCode;
}
