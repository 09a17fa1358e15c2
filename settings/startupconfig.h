#pragma once

#include <QByteArray>
#include <QString>

class Settings;

// Start-up configuration shared by main and the queue manager: the
// process-wide API base URL and the steps that decide it.
//
// Order at start-up (all on the GUI thread):
//   main:           startup::applyHostOverride();         // host.txt in the working folder
//   QueueManager::init(settings):
//                   startup::loadSettings(*settings);     // settings.xml, version URL, apiURL
//                   ... token test call, createSessions(startup::apiBaseUrl(), 1) ...
//
// The effective address is, in order of precedence: a valid apiURL from
// settings.xml, a valid first line of host.txt, the built-in default.
namespace startup {

// The built-in API base URL, fixed at build time (CMake cache variable
// SONVIRA_DEFAULT_API_URL).
QByteArray defaultApiBaseUrl();

// The process-wide API base URL (UTF-8). Starts as defaultApiBaseUrl().
// Safe to call from any thread.
QByteArray apiBaseUrl();
void setApiBaseUrl(const QByteArray& url);

// True when the text, parsed as a URL in tolerant mode, is valid, not
// relative and has a non-empty scheme. "api.example.com" (no scheme) is
// rejected; "https://api.example.com/api" is accepted.
bool isValidUrl(const QByteArray& text);

// The file's bytes up to, not including, the first line feed; nothing is
// trimmed, so a carriage return before the line feed stays. Empty when the
// file cannot be opened or holds nothing.
QByteArray readFirstLine(const QString& path);

// readFirstLine without the carriage return of a CRLF line ending: what a
// one-line configuration file (host.txt, curversionurl.txt) means.
QByteArray readFirstTextLine(const QString& path);

// Address override: when the first line of hostFile (by default "host.txt",
// relative to the current working directory) is a valid URL, logs
// "Read from host.txt: <line>" and makes it the API base URL; otherwise logs
// "Failed to read the first line or file is empty (host.txt)." and keeps the
// current one. Returns true when the address was replaced.
bool applyHostOverride(const QString& hostFile = QStringLiteral("host.txt"));

// appConfigFolder() + "/settings.xml".
QString settingsFilePath();

// "{ExecutableFolder}/curversionurl.txt", expanded.
QString versionUrlFilePath();

// The settings part of the queue manager's start-up:
//   1. settings.load(settingsFilePath()), result ignored (defaults stay);
//   2. settings.versionCheckUrl := first line of versionUrlFilePath()
//      (empty when the file is missing, so no version check is made);
//   3. an empty or invalid settings.apiURL becomes apiBaseUrl(); then
//      apiBaseUrl() := settings.apiURL.
// settingsPath overrides the settings file (tests); empty means the default.
void loadSettings(Settings& settings, const QString& settingsPath = QString());

} // namespace startup
