#pragma once

#include <QtGlobal>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class Settings;

// Once per start, fetches the version file named by curversionurl.txt
// (three lines: newest version number, link text, link address). When the
// published number is greater than the client's own, the label becomes a
// link to the download page, opened in the system's browser; a failed
// request leaves a hint to check by hand. It never blocks: the answer
// arrives through the network manager's finished signal.
//
// A server cannot exhaust memory or keep the request open: answers above
// kMaxAnswerBytes and requests that take longer than kTimeoutMs count as
// errors. Only http and https addresses become links, and the link text is
// shown as plain text.
class VersionCheck {
public:
    static constexpr qint64 kMaxAnswerBytes = 64 * 1024;
    static constexpr int kTimeoutMs = 10000;

    VersionCheck(Settings& settings, QNetworkAccessManager& network, QLabel& label);

    // Sends the request when versionCheckUrl is longer than 4 bytes; the
    // reply, or null when nothing was sent.
    QNetworkReply* start();
    // Evaluates a finished reply and releases it later.
    void evaluate(QNetworkReply* reply);

private:
    void showLink(const QString& address, const QString& text);

    Settings& settings;
    QNetworkAccessManager& network;
    QLabel& label;
};
