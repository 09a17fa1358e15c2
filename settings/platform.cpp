#include "settings/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#if defined(SONVIRA_HAVE_QTDBUS)
#include "settings/desktopbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#endif

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <string>
#include <windows.h>
#include <shobjidl.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <iostream>
#include <string>

namespace platform {

QString executableName(const QString& baseName)
{
#ifdef Q_OS_WIN
    return baseName + QStringLiteral(".exe");
#else
    return baseName;
#endif
}

Qt::CaseSensitivity pathCaseSensitivity()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

bool isSamePath(const QString& a, const QString& b)
{
    return QDir::toNativeSeparators(a).compare(QDir::toNativeSeparators(b), pathCaseSensitivity()) == 0;
}

QString pathKey(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    return pathCaseSensitivity() == Qt::CaseInsensitive ? native.toCaseFolded() : native;
}

bool isVirtualFileSystemFolder(const QString& path)
{
#ifdef Q_OS_LINUX
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(QDir(path).absolutePath()));
    for (const char* top : {"/proc", "/sys", "/dev", "/run"}) {
        const QString folder = QLatin1String(top);
        if (clean == folder || clean.startsWith(folder + QLatin1Char('/')))
            return true;
    }
    return false;
#else
    Q_UNUSED(path);
    return false;
#endif
}

bool nameFitsFileSystem(const QString& path)
{
#ifdef Q_OS_WIN
    constexpr qsizetype kMaxPath = 260;
    const QSettings fileSystem(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\FileSystem"),
                               QSettings::NativeFormat);
    return fileSystem.value(QStringLiteral("LongPathsEnabled")).toInt() == 1
        || QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).size() < kMaxPath;
#else
    constexpr qsizetype kMaxNameBytes = 255;
    return QFileInfo(path).fileName().toUtf8().size() <= kMaxNameBytes;
#endif
}

// ---- file manager ---------------------------------------------------------

namespace {

// Opens the folder itself, or the folder that holds the file, with the
// desktop's default handler (a detached program, so that the engine needs
// no graphical library for it).
void openContainingFolder(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QDir::toNativeSeparators(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
#if defined(Q_OS_WIN)
    QProcess::startDetached(QStringLiteral("explorer.exe"), {folder});
#elif defined(Q_OS_MACOS)
    QProcess::startDetached(QStringLiteral("open"), {folder});
#else
    QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
#endif
}

} // namespace

void revealInFileManager(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
#if defined(Q_OS_WIN)
    if (QProcess::startDetached(QStringLiteral("explorer.exe"), {QStringLiteral("/select,"), native}))
        return;
    openContainingFolder(path);
#elif defined(Q_OS_MACOS)
    if (QProcess::startDetached(QStringLiteral("open"), {QStringLiteral("-R"), native}))
        return;
    openContainingFolder(path);
#elif defined(SONVIRA_HAVE_QTDBUS)
    // The freedesktop file-manager interface opens the folder with the item
    // selected. The call is asynchronous: the GUI thread never waits for a
    // file manager, and an error answer (none installed) falls back.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [path](QDBusPendingCallWatcher* w) {
        if (w->isError())
            openContainingFolder(path);
        w->deleteLater();
    });
#else
    Q_UNUSED(native);
    openContainingFolder(path);
#endif
}

// ---- password store ----------------------------------------------------------

void askKeychainLocked(std::function<void(bool locked)> answer)
{
#if defined(SONVIRA_HAVE_QTDBUS)
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
            QStringLiteral("/org/freedesktop/secrets/aliases/default"), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [answer](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<QDBusVariant> reply = *w;
            answer(!reply.isError() && reply.value().variant().toBool());
            w->deleteLater();
        });
        return;
    }
#endif
    QMetaObject::invokeMethod(QCoreApplication::instance(), [answer] { answer(false); }, Qt::QueuedConnection);
}

// ---- file permissions -----------------------------------------------------

void makeOwnerOnly(QFileDevice& file)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file);
#else
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

// ---- files still being written ---------------------------------------------

FileWriters fileWriters(const QString& path)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(path);
    return FileWriters::None;
#elif defined(Q_OS_LINUX)
    // O_NONBLOCK: never wait for another holder's lease.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FileWriters::Unknown;
    // Should a writer open the file in the instant the lease is held, the
    // kernel signals the lease holder. SIGURG is ignored by default, where
    // the default SIGIO would end the process.
    ::fcntl(fd, F_SETSIG, SIGURG);
    const int taken = ::fcntl(fd, F_SETLEASE, F_RDLCK);
    const int error = errno;
    if (taken == 0)
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    if (taken == 0)
        return FileWriters::None;
    return error == EAGAIN ? FileWriters::Writing : FileWriters::Unknown;
#else
    Q_UNUSED(path);
    return FileWriters::Unknown;
#endif
}

// ---- termination signals --------------------------------------------------

#ifdef Q_OS_WIN
namespace {

// Runs on a thread the system starts for the event. The event loops end on
// the main thread, which then saves as the Quit action does.
BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    // After a close, log-off or shut-down event the system ends the process
    // as soon as this returns: wait here instead, so that the main thread
    // saves and ends the process itself (the system's own limit, about 5 s,
    // still applies).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

} // namespace

void quitOnTerminationSignals()
{
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

QString readSecretLine(const QString& prompt)
{
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool quiet = ::GetConsoleMode(input, &mode) != 0;
    if (quiet) {
        std::cerr << prompt.toLocal8Bit().constData() << std::flush;
        ::SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
    }
    std::string line;
    std::getline(std::cin, line);
    if (quiet) {
        ::SetConsoleMode(input, mode);
        std::cerr << std::endl;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.c_str());
}
#else
namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int signal)
{
    // The signal's number, so a reader that waits outside the event loop
    // knows which one came. Only write() here: it is async-signal-safe. The
    // notifier on the other end of the pipe ends the event loops on the GUI
    // thread.
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// Waits until standard input can be read; false at end of input. A
// termination signal while it waits (the pipe of quitOnTerminationSignals)
// restores the terminal and ends the process as the signal would have:
// exit code 128 + its number.
bool waitForInput(const termios* saved)
{
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    const nfds_t count = signalPipe[0] == -1 ? 1 : 2;
    while (::poll(fds, count, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) {
        char signal = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &signal, 1);
        if (saved)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, saved);
        std::cerr << std::endl;
        std::_Exit(128 + signal);
    }
    return true;
}

} // namespace

QString readSecretLine(const QString& prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved = {};
    const bool quiet = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    std::cerr << prompt.toLocal8Bit().constData() << std::flush;
    if (quiet) {
        termios noEcho = saved;
        noEcho.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho);
    }
    // Byte by byte from the descriptor: nothing is read past the line, and
    // a termination signal is seen while the user has not typed yet.
    std::string line;
    char c = 0;
    while (waitForInput(quiet ? &saved : nullptr)) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line.push_back(c);
    }
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << std::endl;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.c_str());
}

void quitOnTerminationSignals()
{
    auto* app = QCoreApplication::instance();
    if (!app || signalPipe[0] != -1 || ::pipe(signalPipe) != 0)
        return;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        // exit() rather than quit(): quit() asks every window to close, and
        // a window that hides to the tray would refuse and keep running.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
#endif

// ---- single instance ------------------------------------------------------

// A lock file beside settings.xml: one client per configuration folder,
// whoever starts it (a desktop session, su, sudo -u, cron). QLockFile holds
// it with the system's own file lock where there is one and writes the
// owner's process id, host and name into it, so a file left by a crashed
// client is recognised as stale and taken over.
struct SingleInstanceGuard::Impl {
    QString path;
    std::unique_ptr<QLockFile> lock;
    QString failure;
};

SingleInstanceGuard::SingleInstanceGuard(const QString& key) : d(std::make_unique<Impl>())
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    d->path = folder + QLatin1Char('/') + key + QStringLiteral(".lock");
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::tryAcquire()
{
    if (d->lock)
        return true;
    d->failure.clear();
    const QString folder = QFileInfo(d->path).absolutePath();
    if (!QDir().mkpath(folder)) {
        d->failure = QStringLiteral("Cannot create the configuration folder %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    auto lock = std::make_unique<QLockFile>(d->path);
    if (lock->tryLock(0)) {
        d->lock = std::move(lock);
        return true;
    }
    const QString shown = QDir::toNativeSeparators(d->path);
    switch (lock->error()) {
    case QLockFile::LockFailedError:
        break;
    case QLockFile::PermissionError:
        d->failure = QStringLiteral("Cannot create the lock file %1: permission denied").arg(shown);
        break;
    default:
        d->failure = QStringLiteral("Cannot create the lock file %1").arg(shown);
        break;
    }
    return false;
}

QString SingleInstanceGuard::failure() const
{
    return d->failure;
}

// ---- private work folder ----------------------------------------------------

#ifdef Q_OS_WIN
// The user's temporary folder is private on Windows already.
QString privateWorkFolder()
{
    const QString folder = QDir::tempPath() + QStringLiteral("/sonvira");
    return QDir().mkpath(folder) ? QDir::toNativeSeparators(folder) : QString();
}
#else
// The per-user runtime folder when the session has one; otherwise a folder
// named after the user id in the shared temporary folder. A folder there
// could have been made by someone else first, or be a link to somewhere
// else: it is used only when it is a real folder of this user, and it is
// made readable by its owner only.
QString privateWorkFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = runtime.isEmpty()
        ? QDir::tempPath() + QStringLiteral("/sonvira-") + QString::number(::getuid())
        : QFile::decodeName(runtime) + QStringLiteral("/sonvira");
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat info = {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return QString();
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return QString();
    return folder;
}
#endif

// ---- taskbar progress and desktop notices ------------------------------------

void showTaskbarProgress(quintptr window, const TaskbarProgress& progress)
{
#if defined(Q_OS_WIN)
    // One taskbar object for the run, made on the GUI thread, where Qt has
    // initialised COM.
    static ITaskbarList3* taskbar = nullptr;
    if (!taskbar) {
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&taskbar))))
            return;
        if (FAILED(taskbar->HrInit())) {
            taskbar->Release();
            taskbar = nullptr;
            return;
        }
    }
    const HWND handle = reinterpret_cast<HWND>(window);
    if (!progress.visible) {
        taskbar->SetProgressState(handle, TBPF_NOPROGRESS);
        return;
    }
    taskbar->SetProgressValue(handle, ULONGLONG(progress.percent), 100);
    taskbar->SetProgressState(handle, progress.error ? TBPF_ERROR : TBPF_NORMAL);
#elif defined(SONVIRA_HAVE_QTDBUS)
    Q_UNUSED(window)
    desktopbus::updateLauncherEntry(QStringLiteral("application://" SONVIRA_APP_ID ".desktop"),
                                    progress.percent / 100.0, progress.visible, progress.waiting,
                                    progress.visible && progress.waiting > 0);
#else
    Q_UNUSED(window)
    Q_UNUSED(progress)
#endif
}

bool showDesktopNotice(const QString& title, const QString& text, std::function<void()> onClicked)
{
#if defined(SONVIRA_HAVE_QTDBUS)
    return desktopbus::notify(QCoreApplication::applicationName(), QStringLiteral("sonvira-desktop"),
                              QStringLiteral(SONVIRA_APP_ID), title, text, std::move(onClicked));
#else
    Q_UNUSED(title)
    Q_UNUSED(text)
    Q_UNUSED(onClicked)
    return false;
#endif
}

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace platform
