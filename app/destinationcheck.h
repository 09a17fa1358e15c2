#pragma once

#include <QByteArray>
#include <QString>

// Adding a file refuses, before anything is uploaded, a destination whose
// folder exists but cannot be written: the result could never be saved.
// Returns the reason ("The destination folder is not writable."), or an
// empty text when the destination may be used.
QByteArray destinationRefusal(const QString& destination);

// The reason given for a dropped folder.
QByteArray droppedFolderRefusal();
