#pragma once

#include "driver/newfileentry.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ScanPath;

// A person's answer to the new files offered for one watched folder.
struct NewFilesAnswer {
    QString folderKey;
    QList<NewFileEntry> entries;
    // The preset chosen for most of the selected files; empty when none was.
    QString dominantPreset;
    bool showAgain = true;
    // The folder the answer saves into.
    QString saveToFolder;
};

// Where the new files of a watched folder that asks first (showDialog) are
// offered to a person: the window's new-files dialogs. Files are collected
// per folder until shown; the answers are collected by the folder scan.
class NewFilesOffer {
public:
    virtual ~NewFilesOffer() = default;
    // Adds `file` of `folder` to the folder's offer, proposing `destination`.
    virtual void offer(const ScanPath& folder, const QString& file, const QString& destination,
                       const QList<QByteArray>& presets) = 0;
    // The accepted answers given since the last call; a cancelled offer gives none.
    virtual QList<NewFilesAnswer> takeAnswers() = 0;
    // Shows every offer that holds files not shown yet.
    virtual void showOffers() = 0;
};
