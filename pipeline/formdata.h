#pragma once

#include <QByteArray>
#include <QString>

namespace formdata {

// The Content-Disposition value of a multipart form-data part that carries
// a file: form-data; name="<fieldName>"; filename="<fileName>".
// Double quotes and backslashes in the name are escaped with a backslash and
// control characters are dropped, so no name can end the quoted string or
// the header early. A name with characters outside ASCII also gets an
// RFC 5987 filename* parameter (UTF-8, percent-encoded), which servers that
// do not read raw UTF-8 in filename can use; a plain ASCII name goes out
// unchanged and alone.
QByteArray fileDisposition(const QByteArray& fieldName, const QString& fileName);

// form-data; name="<fieldName>"
QByteArray fieldDisposition(const QByteArray& fieldName);

} // namespace formdata
