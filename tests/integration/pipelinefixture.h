#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QueueManager;
class SessionManager;

// Helpers shared by the tests that drive the pipeline against the real
// service.
namespace pipelinefixture {

// A stereo 48 kHz sine WAV of the given length, written into `folder`.
QString writeWav(const QString& folder, const QString& name, double seconds = 1.0);

// Logs in with the demo account through a throw-away token manager, which
// also makes apiUrl the host of every session started afterwards.
bool logInDemo(const QByteArray& apiUrl);

// Polls until the session reports `state`, processing events meanwhile.
bool waitForSessionState(SessionManager& session, int state, int timeoutMs = 10000);

// The manager side of the main window's queue tick: one cycle, then the
// local steps are taken as done at once (pre-processing keeps the source,
// post-processing keeps the downloaded result).
void driveOnce(QueueManager& manager);

// driveOnce every 20 ms until `done` holds or the time is up.
bool driveUntil(QueueManager& manager, const std::function<bool()>& done, int timeoutMs = 20000);

// Files in a folder whose name marks an unfinished download.
QStringList partialFiles(const QString& folder);

// Lines of the service log that contain `text`.
int countLogLines(const QByteArray& log, const QByteArray& text);

} // namespace pipelinefixture
