#pragma once

#include <QString>

#include <functional>
#include <memory>

class QFileDevice;

// Every difference between Windows and the other platforms lives here.
namespace platform {

// "ffmpeg" -> "ffmpeg.exe" on Windows, unchanged elsewhere.
QString executableName(const QString& baseName);

// True when both paths name the same file: equal after conversion to native
// separators, ignoring letter case on Windows and macOS only.
bool isSamePath(const QString& a, const QString& b);
// The case sensitivity that path identity uses on this platform.
Qt::CaseSensitivity pathCaseSensitivity();
// A key under which two paths are equal exactly when isSamePath holds.
QString pathKey(const QString& path);

// A folder of a virtual file system that holds no one's audio and whose
// listing or watching costs much or never ends: on Linux /proc, /sys, /dev
// and /run and everything below them. None elsewhere.
bool isVirtualFileSystemFolder(const QString& path);

// Whether the file system could create `path`'s name: on Windows a path of
// at most 260 characters (unless long paths are on), elsewhere a name of
// at most 255 bytes.
bool nameFitsFileSystem(const QString& path);

// Starts the file manager showing the file selected (or the folder), detached.
// Elsewhere than Windows and macOS this is the freedesktop FileManager1
// ShowItems call, answered asynchronously; when no file manager answers, the
// folder is opened with the desktop's default handler.
void revealInFileManager(const QString& path);

// Whether some process still has a file open for writing.
enum class FileWriters { None, Writing, Unknown };
// On Linux a read lease is refused while any process has the file open for
// writing, which answers the question exactly; Unknown where no lease can
// be taken (another owner, a file system without leases). On Windows a
// writer keeps the file from being opened for reading and writing, so the
// caller's own open test answers it and this gives None. Unknown elsewhere.
FileWriters fileWriters(const QString& path);

// Restricts an open file to its owner (read and write) on POSIX; a no-op on
// Windows, where the per-user folders are private already.
void makeOwnerOnly(QFileDevice& file);

// SIGTERM, SIGINT and SIGHUP on POSIX, and on Windows the console's Ctrl+C,
// Ctrl+Break, close, log-off and shut-down events, end the application's
// event loops with exit code 0, as the Quit action does, so shutdown saves
// the settings as usual. Call once, after the application object exists.
void quitOnTerminationSignals();

// Hands the free pages of the memory allocator back to the system, after a
// large short-lived allocation (where the allocator keeps them otherwise).
// No-op where the allocator has no such call.
void releaseFreeMemory();

// One line of standard input, the line feed left out. The prompt goes to
// standard error; from a terminal the typed text is not echoed (a
// password), from a pipe the line is read as it is. Once
// quitOnTerminationSignals() is in force, a termination signal while it
// waits restores the terminal and ends the process with 128 + the signal's
// number (130 for Ctrl+C, 143 for SIGTERM).
QString readSecretLine(const QString& prompt);

// One client per configuration folder: a lock file beside settings.xml
// (the application's name must be set first). The operating system releases
// it when the process dies, so a crash never blocks the next start.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString& key);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;
    // False when another live client holds the lock, or when the lock cannot
    // be taken at all (failure() then says why). Held until the guard is
    // destroyed or the process ends, however it ends.
    bool tryAcquire();
    // Why the last tryAcquire() failed when it was not another client:
    // empty when another client holds the lock.
    QString failure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Asks whether the password store keeps its entries locked (the Secret
// Service's default collection on Linux): a store that is there but locked
// answers a read as if it held nothing. `answer` gets the result on the
// event loop, false where this cannot be told. Never waits.
void askKeychainLocked(std::function<void(bool locked)> answer);

// The client's working folder for intermediate files, private to the user
// and created when missing; empty when it cannot be made or is not safe to
// use (someone else's folder, or a link, in a shared temporary folder).
QString privateWorkFolder();

// The progress of the queue on the application's taskbar button or dock icon.
struct TaskbarProgress {
    // Nothing is shown when false (the queue is idle).
    bool visible = false;
    // 0 to 100.
    int percent = 0;
    // Files that wait, shown as a badge where the dock has one (none at 0).
    int waiting = 0;
    // Some file failed: the bar turns red where the taskbar can.
    bool error = false;

    bool operator==(const TaskbarProgress& other) const
    {
        return visible == other.visible && percent == other.percent && waiting == other.waiting
            && error == other.error;
    }
    bool operator!=(const TaskbarProgress& other) const { return !(*this == other); }
};
// Windows: ITaskbarList3 on the taskbar button of the top-level `window`
// (its native handle), with the error state. Linux and the BSDs: the
// com.canonical.Unity.LauncherEntry Update signal for the client's desktop
// entry on the session bus, which the docks of KDE Plasma and GNOME read
// (progress and the count of waiting files). Nothing elsewhere.
void showTaskbarProgress(quintptr window, const TaskbarProgress& progress);

// A desktop notification (org.freedesktop.Notifications on Linux and the
// BSDs) naming the application; clicking it runs `onClicked` on the event
// loop. Replaces the last one shown. False where there is none (Windows and
// macOS, whose tray always exists, or no session bus).
bool showDesktopNotice(const QString& title, const QString& text, std::function<void()> onClicked);

} // namespace platform
