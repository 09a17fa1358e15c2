#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Parameters of a structured header value such as
//   form-data; name="file"; filename="a \"b\".wav"; filename*=UTF-8''%C3%A9.wav
// The first element is the value before the first ';' (its name, empty value).
// Quoted values are unescaped; names are lower-cased.
QList<QPair<QByteArray, QByteArray>> headerParameters(const QByteArray& value);

// The value of one parameter, empty when absent.
QByteArray headerParameter(const QList<QPair<QByteArray, QByteArray>>& params, const QByteArray& name);
bool hasHeaderParameter(const QList<QPair<QByteArray, QByteArray>>& params, const QByteArray& name);

// Decodes an extended parameter value (charset'language'percent-encoded), as
// used by filename*. Supports UTF-8 and ISO-8859-1; false for anything else.
bool decodeExtendedValue(const QByteArray& value, QString& out);
