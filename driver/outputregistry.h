#pragma once

#include <QString>

class Settings;

// Keeps the folder scanner from taking the client's own output for new
// input: every file the client is about to write into a watched folder is
// noted there as a placeholder first.
class OutputRegistry {
public:
    explicit OutputRegistry(Settings* settings);

    // Notes `path` in every watched folder that is its folder.
    void registerOutputInWatchedFolders(const QString& path) const;
    // The queue manager's hook for each new destination file.
    void queue_newDestFileAdded(const QByteArray& destPath) const;
    // Creates the file empty, readable by everyone and writable by the
    // owner only, so a later writer finds its name taken. An existing file
    // is left alone and reported as false.
    static bool reserveOutputFile(const QString& path);

private:
    Settings* m_settings;
};
