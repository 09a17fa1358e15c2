#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The Web API client's reading of the service's JSON replies, kept apart
// from the network so that any bytes can be tried on it.
namespace webreplies {

// The object a reply body holds; false when the body is not a JSON object.
bool objectOf(const QByteArray& body, QJsonObject& object);
// The token of a log-in reply, empty when it holds none.
QString loginToken(const QJsonObject& reply);
// The "<id>: <name>" entries of a preset-list reply; elements that are not
// objects are skipped. False when the reply holds no list.
bool presetEntries(const QJsonObject& reply, QList<QByteArray>& presets);

} // namespace webreplies
