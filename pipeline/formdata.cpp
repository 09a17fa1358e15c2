#include "pipeline/formdata.h"

namespace formdata {

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

// The name as it goes between the quotes: control characters dropped, a
// double quote and a backslash percent-encoded (%22, %5C) as browsers send
// them, so that neither a server that reads backslash escapes nor one that
// does not can find the quoted string ending early.
QByteArray quotedStringBody(const QString& text)
{
    QByteArray quoted;
    for (const QChar c : text) {
        if (isControl(c))
            continue;
        if (c == QLatin1Char('"'))
            quoted += "%22";
        else if (c == QLatin1Char('\\'))
            quoted += "%5C";
        else
            quoted += QString(c).toUtf8();
    }
    return quoted;
}

} // namespace

QByteArray fieldDisposition(const QByteArray& fieldName)
{
    return "form-data; name=\"" + fieldName + '"';
}

QByteArray fileDisposition(const QByteArray& fieldName, const QString& fileName)
{
    return fieldDisposition(fieldName) + "; filename=\"" + quotedStringBody(fileName) + '"';
}

} // namespace formdata
