#pragma once

#include <QByteArray>
#include <QString>

class QObject;

// Naming and path helpers used everywhere to name output files and to find
// the client's own folders. All are stateless and reentrant.
namespace naming {

// Expands {presetName}, {date} ("MM-dd-yy") and {time} ("HHmmss") in any
// letter case, then replaces each of < > : " / \ | ? * by "_".
QString expandNameTemplate(const QString& nameTemplate, const QString& presetName);
// Expands the template in the file-name part of the path only.
QString expandNameTemplateInPath(const QString& path, const QString& presetName);
// complete base name + suffix + "." + extension, without folder.
QString insertSuffix(const QString& fileNameOrPath, const QString& suffix);
// folder + "/" + complete base name + suffix + "." + extension.
QString pathWithSuffix(const QString& path, const QString& suffix);
QString fileNameOf(const QString& path);
// folder + "/" + complete base name + "." + extension, native separators.
QString withExtension(const QString& path, const QString& extension);
// Replaces every {ExecutableFolder} (any case) by the executable's folder.
QString expandExecutableFolder(const QString& path);
// expandExecutableFolder, except that a path under {ExecutableFolder} that
// does not exist is looked for under the installed helper folder
// <executable folder>/../libexec/sonvira instead; the path next to the
// executable when it is in neither place.
QString findBundledPath(const QString& path);
// The per-user configuration folder of "Sonvira desktop" (not created here).
QString appConfigFolder();
// <temp>/sonvira, created on demand; empty when it cannot be created.
QString tempWorkFolder();
// Path identity on this platform (see platform::isSamePath).
bool isSamePath(const QString& a, const QString& b);
// The path itself when free, else "name (N).ext" for N = 1..9999, native
// separators. Empty when every candidate exists: nothing is created then.
QString uniqueFileName(const QString& path, bool createFile);
// Adding a file refuses, before anything is uploaded, a destination whose
// folder exists but cannot be written: the result could never be saved.
// Returns the reason ("The destination folder is not writable."), or an
// empty text when the destination may be used. Every route that queues a
// file, and the queue before it starts one, asks this.
QByteArray destinationRefusal(const QString& destination);
// The refusal of a destination whose folder cannot be written.
QByteArray folderNotWritableText();
// Shows the file selected in the desktop's file manager, or its folder when
// the file is gone. Never waits for the file manager.
void showInExplorer(const QString& path, QObject* parent = nullptr);

} // namespace naming
