#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

// The Web API client's reading of the service's JSON replies, kept apart
// from the network so that any bytes can be tried on it.
namespace webreplies {

// The object a reply body holds; false when the body is not a JSON object.
// A UTF-8 byte-order mark before it is passed over.
bool objectOf(const QByteArray& body, QJsonObject& object);
// The token of a log-in reply, empty when it holds none or one that cannot
// go into a header line (a control character would end the line and let
// the answer add header lines of its own to every later request).
QString loginToken(const QJsonObject& reply);
// An identifier: a JSON number with an integral value from 0 to the
// largest int, or a text of decimal digits naming one. False otherwise.
bool idOf(const QJsonValue& value, int& id);
// The "<id>: <name>" entries of a preset-list reply; elements that are not
// objects are skipped. False when the reply holds no list.
bool presetEntries(const QJsonObject& reply, QList<QByteArray>& presets);
// The wait a Retry-After header asks for, in milliseconds: a number of
// seconds or an HTTP date in any of its three forms (counted from `now`);
// 0 when absent, unreadable or past. Capped at an hour, so that no answer
// can stop the client for good.
int retryAfterMs(const QByteArray& value, const QDateTime& now);
// An HTTP date (IMF-fixdate, RFC 850 or asctime form) in UTC; an invalid
// date when the text is none of them.
QDateTime httpDate(const QByteArray& text);

} // namespace webreplies
