#include "pipeline/webreplies.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

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

} // namespace webreplies
