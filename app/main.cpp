#include "app/commandline.h"
#include "app/mainwindow.h"

#include "audio/audiolibrary.h"
#include "dialogs/dlglogin.h"
#include "driver/account.h"
#include "pipeline/queuemanager.h"
#include "settings/platform.h"
#include "settings/rememberedlogin.h"
#include "settings/settings.h"
#include "settings/startupconfig.h"
#include "video/ffmpegtool.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <exception>
#include <functional>
#include <iostream>

namespace {

const char* const kApplicationName = "Sonvira desktop";
const char* const kInstanceKey = "SonviraDesktopClientQTKey";

// Runs one step whose exceptions must not end the process before shutdown
// has run; returns false when the step threw.
bool guarded(const std::function<void()>& step)
{
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        qWarning().noquote().nospace() << "Exception caught: " << e.what();
    } catch (...) {
        qWarning().noquote() << "Unknown exception caught";
    }
    return false;
}

// The embedded dark style; without it the platform's default style stays.
void applyStyleSheet(QApplication& app, QFile& styleFile)
{
    if (styleFile.open(QIODevice::ReadOnly | QIODevice::Text))
        app.setStyleSheet(QString::fromUtf8(styleFile.readAll()));
}

// Asks for the account when no user name or password is stored (nor is being
// read from the keychain); the account runs the log-in rounds meanwhile, as
// no queue driver runs yet.
bool haveLoginDetails(Settings& settings, Account& account, bool readingPassword)
{
    if (!settings.wUsername.isEmpty() && (!settings.wPassword.isEmpty() || readingPassword))
        return true;
    return dlgLogin::askForLogin(&settings, &account, true);
}

// The remembered password read from the keychain after the window opened
// (a locked keyring may take its owner's time): found, the manager logs in
// with it; otherwise the login dialog asks, driven by the window's timers.
void passwordFromKeychain(bool found, Settings& settings, Account& account, QObject* window)
{
    if (found) {
        account.tryCredentials(settings.wUsername, settings.wPassword);
        return;
    }
    QTimer::singleShot(0, window, [&settings, &account] {
        account.enableLogIn();
        dlgLogin::askForLogin(&settings, &account, false);
    });
}

// A failure leaves decoding and writing usable, so it is only reported.
void initialiseAudio()
{
    if (!audiolib::initialize())
        std::cerr << audiolib::kInitErrorText << audiolib::lastErrorCode() << std::endl;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const auto answered = commandline::answerInformational(argc, argv))
        return *answered;
    // Log lines carry the message only, no file or line context.
    qSetMessagePattern(QStringLiteral("%{message}"));
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QApplication app(argc, argv);
    // Before anything can wait for the user: a termination signal then also
    // ends the message box below.
    platform::quitOnTerminationSignals();

    platform::SingleInstanceGuard instanceGuard(QString::fromLatin1(kInstanceKey));
    if (!instanceGuard.tryAcquire()) {
        const QString failure = instanceGuard.failure();
        const QString text = failure.isEmpty()
            ? QStringLiteral("Another instance of the Sonvira client is already running.")
            : failure;
        qWarning().noquote() << text;
        QMessageBox::critical(nullptr,
                              failure.isEmpty() ? QStringLiteral("Application Running") : QStringLiteral("Cannot start"),
                              text, QMessageBox::Ok);
        return 1;
    }

    Settings settings;
    QueueManager queueManager;
    queueManager.setMessageHandler([](const QString& title, const QString& text) {
        QMessageBox::critical(nullptr, title, text);
    });
    startup::applyHostOverride();
    if (!queueManager.init(&settings))
        return -1;
    ffmpegtool::setFfmpegFolder(QString::fromUtf8(settings.FFMPEGPath));
    qInfo().noquote().nospace() << "codecValid " << (ffmpegtool::isFfmpegAvailable() ? "true" : "false");

    QFile styleFile(QStringLiteral(":/css/dark-style.css"));
    applyStyleSheet(app, styleFile);

    auto* mainWindow = new MainWindow();
    qInfo().noquote() << "Main window ready";

    Account account(settings, queueManager);
    RememberedLogin rememberedLogin(settings);
    const bool readingPassword = rememberedLogin.restore([&settings, &account, mainWindow](bool found) {
        passwordFromKeychain(found, settings, account, mainWindow);
    });
    // Without an accepted login the window is never shown; it has no
    // settings yet, so deleting it writes nothing to settings.xml.
    if (!haveLoginDetails(settings, account, readingPassword)) {
        delete mainWindow;
        return -1;
    }
    initialiseAudio();

    mainWindow->setContext(settings, queueManager, account);
    mainWindow->initialise();
    mainWindow->show();

    // Stays -1 when an exception leaves the event loop.
    int exitCode = -1;
    guarded([&] { exitCode = QApplication::exec(); });

    // The window's destructor saves the settings.
    rememberedLogin.keepUnconfirmedInFile();
    guarded([&] { delete mainWindow; });
    qInfo().noquote() << "Main window deleted";
    audiolib::release();
    return exitCode;
}
