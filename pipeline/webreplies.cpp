#include "pipeline/webreplies.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace webreplies {

bool objectOf(const QByteArray& body, QJsonObject& object)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return false;
    object = document.object();
    return true;
}

QString loginToken(const QJsonObject& reply)
{
    return reply.value("token").toString();
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
        const QByteArray id = QByteArray::number(preset.value("id").toInteger());
        const QByteArray name = preset.value("name").toString().toUtf8();
        qDebug().noquote() << "Preset " + id + " " + name;
        presets.append(id + ": " + name);
    }
    return true;
}

int retryAfterMs(const QByteArray& value, const QDateTime& now)
{
    constexpr qint64 kMaxMs = 3600 * 1000;
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return 0;
    bool number = false;
    const qint64 seconds = text.toLongLong(&number);
    qint64 ms = 0;
    if (number) {
        ms = seconds > kMaxMs / 1000 ? kMaxMs : seconds < 0 ? 0 : seconds * 1000;
    } else {
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
        ms = when.isValid() ? now.msecsTo(when) : 0;
    }
    return int(std::clamp<qint64>(ms, 0, kMaxMs));
}

} // namespace webreplies
