#include "pipeline/webreplies.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <climits>
#include <cmath>

namespace webreplies {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool isHeaderSafe(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

int monthOf(const QByteArray& name)
{
    static const QByteArrayList months{"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
    return int(months.indexOf(name.toLower())) + 1;
}

bool isWeekday(const QByteArray& name)
{
    static const QByteArrayList days{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    return name.size() >= 3 && days.contains(name.left(3).toLower());
}

bool isDigits(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool objectOf(const QByteArray& body, QJsonObject& object)
{
    const QByteArray text = body.startsWith(kUtf8Bom) ? body.mid(3) : body;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject())
        return false;
    object = document.object();
    return true;
}

QString loginToken(const QJsonObject& reply)
{
    const QString token = reply.value("token").toString();
    return isHeaderSafe(token) ? token : QString();
}

bool idOf(const QJsonValue& value, int& id)
{
    double number = -1;
    if (value.isDouble()) {
        number = value.toDouble();
    } else if (value.isString()) {
        const QByteArray text = value.toString().toLatin1();
        if (!isDigits(text) || text.size() > 10)
            return false;
        number = text.toDouble();
    }
    if (!(number >= 0 && number <= INT_MAX) || std::floor(number) != number)
        return false;
    id = int(number);
    return true;
}

bool presetEntries(const QJsonObject& reply, QList<QByteArray>& presets)
{
    const QJsonValue list = reply.value("presets");
    if (!list.isArray())
        return false;
    presets.clear();
    for (const QJsonValue& element : list.toArray()) {
        if (!element.isObject())
            continue;
        const QJsonObject preset = element.toObject();
        int number = 0;
        const QByteArray id = QByteArray::number(idOf(preset.value("id"), number) ? number : 0);
        const QByteArray name = preset.value("name").toString().toUtf8();
        qDebug().noquote() << "Preset " + id + " " + name;
        presets.append(id + ": " + name);
    }
    return true;
}

QDateTime httpDate(const QByteArray& text)
{
    QByteArray spaced = text;
    spaced.replace(',', ' ').replace('-', ' ');
    int day = -1;
    int month = 0;
    int year = -1;
    QTime time;
    for (const QByteArray& token : spaced.simplified().split(' ')) {
        if (token.contains(':')) {
            time = QTime::fromString(QString::fromLatin1(token), QStringLiteral("HH:mm:ss"));
            if (!time.isValid())
                return {};
        } else if (isDigits(token) && token.size() <= 2 && day < 0) {
            day = token.toInt();
        } else if (isDigits(token) && (token.size() == 2 || token.size() == 4) && year < 0) {
            // Two-digit years of the old form: 70 to 99 are 19xx, the rest 20xx.
            year = token.size() == 4 ? token.toInt() : token.toInt() + (token.toInt() >= 70 ? 1900 : 2000);
        } else if (monthOf(token) > 0 && month == 0) {
            month = monthOf(token);
        } else if (!isWeekday(token) && token != "GMT" && token != "UTC") {
            return {};
        }
    }
    const QDate date(year, month, day);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

int retryAfterMs(const QByteArray& value, const QDateTime& now)
{
    constexpr qint64 kMaxMs = 3600 * 1000;
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return 0;
    qint64 ms = 0;
    if (isDigits(text)) {
        bool number = false;
        const qint64 seconds = text.toLongLong(&number);
        ms = !number || seconds > kMaxMs / 1000 ? kMaxMs : seconds * 1000;
    } else {
        const QDateTime when = httpDate(text);
        ms = when.isValid() ? now.msecsTo(when) : 0;
    }
    return int(std::clamp<qint64>(ms, 0, kMaxMs));
}

} // namespace webreplies
