#pragma once

#include <QString>

// The client-wide record of the ffmpeg folder and the check that a folder
// holds a working ffmpeg. Used on the GUI thread only.
namespace ffmpegtool {

// The ffmpeg executable inside `folder` ("ffmpeg.exe" on Windows).
QString programIn(const QString& folder);
// The folder to use for a configured one: the configured folder itself, or,
// when it is empty, the folder of the ffmpeg found on the PATH (empty when
// there is none).
QString resolveFolder(const QString& configured);

// Runs "<folder>/ffmpeg -version" and reports whether its output contains
// "ffmpeg version". Bounded: gives up after 10 s without output or 64 KiB of
// output, and ends the program if it is still running then, so no child is
// ever left behind. `versionText` receives the output (empty when the
// program cannot be started). An empty folder stands for the PATH's ffmpeg.
bool checkFfmpeg(const QString& folder, QString& versionText);

// Checks the folder and remembers it (resolved) and the check's output.
void setFfmpegFolder(const QString& folder);
// Whether the remembered output contains "ffmpeg version"; logs the folder.
bool isFfmpegAvailable();
// The folder remembered by the last setFfmpegFolder.
QString ffmpegFolder();
QString ffmpegVersionText();

} // namespace ffmpegtool
