#include "headless/headlessfrontend.h"
#include "headless/headlessoptions.h"
#include "headless/login.h"
#include "headless/queuelisting.h"
#include "headless/servicestatuslog.h"
#include "headless/setupwarnings.h"

#include "driver/clientstartup.h"
#include "driver/queuedriver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>

#include <iostream>

int main(int argc, char* argv[])
{
    const headless::Options options = headless::parseOptions(argc, argv);
    if (options.exitCode)
        return *options.exitCode;
    ClientStartup::nameApplication();
    // Warnings on standard error, the debug output only with --verbose: the
    // events are the lines on standard output.
    if (!options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication app(argc, argv);
    if (options.list)
        return headless::listQueue();
    ClientStartup startup;
    if (!startup.claimInstance()) {
        const QString failure = startup.instanceFailure();
        std::cerr << (failure.isEmpty() ? std::string(ClientStartup::kAlreadyRunningText)
                                        : failure.toLocal8Bit().toStdString())
                  << std::endl;
        return 1;
    }
    const bool started = startup.startEngine(
        [](const QString& title, const QString& text) { qWarning().noquote() << title + QStringLiteral(": ") + text; });
    if (!started)
        return 1;
    Settings& settings = startup.settings();
    // Running on would write the file again without what could not be read.
    if (!settings.loadError().isEmpty()) {
        std::cerr << headless::kUnreadableSettingsText << std::endl;
        return headless::kUnreadableSettings;
    }
    if (!options.loginEmail.isEmpty())
        return headless::storeLogin(settings, startup.queueManager(), startup.rememberedLogin(), options.loginEmail);
    // A password kept in the keychain arrives on the event loop: the queue
    // manager logs in with it then, or the client ends as without one.
    const bool readingPassword = startup.restoreLogin([&settings, &startup](bool found) {
        if (found) {
            startup.account().tryCredentials(settings.wUsername, settings.wPassword);
            return;
        }
        if (startup.rememberedLogin().keychainLocked()) {
            std::cerr << headless::kKeyringLockedText << std::endl;
            QCoreApplication::exit(headless::kKeyringLocked);
            return;
        }
        std::cerr << headless::kNoCredentialsText << std::endl;
        QCoreApplication::exit(headless::kNoCredentials);
    });
    if (!startup.hasLoginDetails(readingPassword)) {
        std::cerr << headless::kNoCredentialsText << std::endl;
        return headless::kNoCredentials;
    }
    startup.startAudio();
    headless::warnAboutSetup(settings);

    int exitCode = 0;
    {
        HeadlessFrontEnd frontEnd;
        QueueDriver driver(settings, startup.queueManager(), frontEnd);
        driver.start();
        if (options.retryErrors)
            driver.commands().resubmitFailed();
        driver.startTimers();
        ServiceStatusLog statusLog(startup.account());
        HeadlessFrontEnd::log(QStringLiteral("Started: ") + QString::number(settings.scanPathRecords().size())
                              + QStringLiteral(" watched folders, service ") + QString::fromUtf8(startup.account().apiUrl()));
        exitCode = QCoreApplication::exec();
        HeadlessFrontEnd::log(QStringLiteral("Stopping"));
        // The driver's end saves settings.xml.
        startup.finish();
    }
    HeadlessFrontEnd::log(QStringLiteral("Stopped: queue and settings saved"));
    return exitCode;
}
