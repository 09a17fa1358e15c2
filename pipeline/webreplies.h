#pragma once

#include <QByteArray>
#include <QDateTime>
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
// The wait a Retry-After header asks for, in milliseconds: a number of
// seconds or an HTTP date (counted from `now`); 0 when absent, unreadable
// or past. Capped at an hour, so that no answer can stop the client for good.
int retryAfterMs(const QByteArray& value, const QDateTime& now);

} // namespace webreplies
