#include "app/commandline.h"
#include "app/mainwindow.h"

#include "dialogs/dlglogin.h"
#include "driver/clientstartup.h"
#include "video/ffmpegtool.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <exception>
#include <functional>

namespace {

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
bool haveLoginDetails(ClientStartup& startup, bool readingPassword)
{
    if (startup.hasLoginDetails(readingPassword))
        return true;
    return dlgLogin::askForLogin(&startup.settings(), &startup.account(), true);
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

} // namespace

int main(int argc, char* argv[])
{
    if (const auto answered = commandline::answerInformational(argc, argv))
        return *answered;
    ClientStartup::nameApplication();
    QApplication app(argc, argv);
    ClientStartup startup;
    // Before anything can wait for the user: a termination signal then also
    // ends the message box below.
    if (!startup.claimInstance()) {
        const QString failure = startup.instanceFailure();
        const QString text = failure.isEmpty() ? QString::fromLatin1(ClientStartup::kAlreadyRunningText) : failure;
        qWarning().noquote() << text;
        QMessageBox::critical(nullptr,
                              failure.isEmpty() ? QStringLiteral("Application Running") : QStringLiteral("Cannot start"),
                              text, QMessageBox::Ok);
        return 1;
    }
    const bool started = startup.startEngine(
        [](const QString& title, const QString& text) { QMessageBox::critical(nullptr, title, text); });
    if (!started)
        return -1;
    qInfo().noquote().nospace() << "codecValid " << (ffmpegtool::isFfmpegAvailable() ? "true" : "false");

    QFile styleFile(QStringLiteral(":/css/dark-style.css"));
    applyStyleSheet(app, styleFile);

    auto* mainWindow = new MainWindow();
    qInfo().noquote() << "Main window ready";

    const bool readingPassword = startup.restoreLogin([&startup, mainWindow](bool found) {
        passwordFromKeychain(found, startup.settings(), startup.account(), mainWindow);
    });
    // Without an accepted login the window is never shown; it has no
    // settings yet, so deleting it writes nothing to settings.xml.
    if (!haveLoginDetails(startup, readingPassword)) {
        delete mainWindow;
        return -1;
    }
    startup.startAudio();

    mainWindow->setContext(startup.settings(), startup.queueManager(), startup.account());
    mainWindow->initialise();
    mainWindow->show();

    // Stays -1 when an exception leaves the event loop.
    int exitCode = -1;
    guarded([&] { exitCode = QApplication::exec(); });

    // The window's destructor saves the settings.
    startup.finish();
    guarded([&] { delete mainWindow; });
    qInfo().noquote() << "Main window deleted";
    return exitCode;
}
