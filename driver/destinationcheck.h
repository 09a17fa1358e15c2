#pragma once

#include <QByteArray>
#include <QString>

// A file from a subfolder keeps its subfolder below the output folder: the
// destination's folder is created when the output folder `root` exists. A
// missing output folder is left missing, so that adding refuses it.
void makeDestinationFolder(const QString& root, const QString& destination);

// The reason given for a dropped folder.
QByteArray droppedFolderRefusal();
