#pragma once

#include <QString>
#include <memory>

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

// Starts the file manager showing the file selected (or the folder), detached.
void revealInFileManager(const QString& path);

// Process-wide single-instance guard. The operating system releases it when
// the process dies, so a crash never blocks the next start.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString& key);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;
    // False when another live process holds the key.
    bool tryAcquire();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace platform
