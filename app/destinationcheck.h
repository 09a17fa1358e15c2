#pragma once

#include <QByteArray>
#include <QString>

// Adding a file refuses, before anything is uploaded, a destination whose
// folder exists but cannot be written: the result could never be saved.
// Returns the reason ("The destination folder is not writable."), or an
// empty text when the destination may be used.
QByteArray destinationRefusal(const QString& destination);

// A file from a subfolder keeps its subfolder below the output folder: the
// destination's folder is created when the output folder `root` exists. A
// missing output folder is left missing, so that adding refuses it.
void makeDestinationFolder(const QString& root, const QString& destination);

// The reason given for a dropped folder.
QByteArray droppedFolderRefusal();
