#pragma once

#include <QByteArray>
#include <QString>

namespace formdata {

// The Content-Disposition value of a multipart form-data part that carries
// a file: form-data; name="<fieldName>"; filename="<fileName>".
// The name goes out in UTF-8 as it is, with control characters dropped and
// a double quote or a backslash percent-encoded, so no name can end the
// quoted string or the header early. There is no filename* parameter:
// form-data does not use that encoding, and a strict server may refuse it.
QByteArray fileDisposition(const QByteArray& fieldName, const QString& fileName);

// form-data; name="<fieldName>"
QByteArray fieldDisposition(const QByteArray& fieldName);

} // namespace formdata
