#include "app/versioncheck.h"

#include "settings/settings.h"

#include <QDebug>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const char* const kTooLarge = "tooLarge";

bool isWebAddress(const QString& address)
{
    const QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    return web && url.isValid() && !url.host().isEmpty();
}

} // namespace

VersionCheck::VersionCheck(Settings& settingsObject, QNetworkAccessManager& manager, QLabel& newVersionLabel)
    : settings(settingsObject), network(manager), label(newVersionLabel)
{
}

QNetworkReply* VersionCheck::start()
{
    if (settings.versionCheckUrl.size() <= 4)
        return nullptr;
    QNetworkRequest request(QUrl(QString::fromUtf8(settings.versionCheckUrl), QUrl::TolerantMode));
    request.setTransferTimeout(kTimeoutMs);
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxAnswerBytes || total > kMaxAnswerBytes) {
            reply->setProperty(kTooLarge, true);
            reply->abort();
        }
    });
    return reply;
}

void VersionCheck::evaluate(QNetworkReply* reply)
{
    reply->deleteLater();
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->read(kMaxAnswerBytes + 1) : QByteArray();
    const bool tooLarge = reply->property(kTooLarge).toBool() || body.size() > kMaxAnswerBytes;
    if (reply->error() != QNetworkReply::NoError || tooLarge) {
        qWarning().noquote() << "Download error:"
                             << (tooLarge ? QStringLiteral("answer larger than 64 KiB") : reply->errorString());
        label.setText(QObject::tr("Please check manually for software update"));
        return;
    }

    QStringList lines = QString::fromUtf8(body).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        // A file written with CRLF line ends means the same lines.
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        qDebug().noquote() << line;
    }
    // A missing or empty line means the same: the file ends with a line
    // feed more often than not.
    const QString text = lines.size() >= 2 && !lines.at(1).isEmpty() ? lines.at(1)
                                                                      : QObject::tr("New version available");
    bool isNumber = false;
    const float published = lines.first().toFloat(&isNumber);
    if (!isNumber || !(published > settings.versionNumber))
        return;
    if (lines.size() >= 3 && !lines.at(2).isEmpty()) {
        // Anything but a web address (javascript:, file:) is ignored.
        if (!isWebAddress(lines.at(2)))
            return;
        settings.webSiteUrl = lines.at(2).toUtf8();
    }
    showLink(QString::fromUtf8(settings.webSiteUrl), text);
}

void VersionCheck::showLink(const QString& address, const QString& text)
{
    if (!isWebAddress(address))
        return;
    const QString href = QString::fromUtf8(QUrl(address, QUrl::TolerantMode).toEncoded()).toHtmlEscaped();
    label.setTextFormat(Qt::RichText);
    label.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse
                                  | Qt::LinksAccessibleByKeyboard);
    label.setOpenExternalLinks(true);
    label.setText(QStringLiteral("<a href=\"%1\" style=\"color: white; text-decoration: none;\">%2</a>")
                      .arg(href, text.toHtmlEscaped()));
}
