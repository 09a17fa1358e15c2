#pragma once

#include <QMutex>
#include <QStringList>

#include <functional>

// Files to delete once nothing needs them (an MP3's WAV when the folder
// asks for it). Requests come from any thread; tick() runs on the main
// thread.
class DeleteRequests {
public:
    // Asks for `path` to be deleted; any thread.
    void add(const QString& path);
    // Deletes every requested file that `inUse` does not hold, and forgets
    // the first request whose file is gone (one per tick).
    void tick(const std::function<bool(const QString&)>& inUse);

    // Handed to the MP3 encoders, which append to the list under the lock.
    QMutex lock;
    QStringList paths;
};
