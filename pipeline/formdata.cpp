#include "pipeline/formdata.h"

namespace formdata {

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

QString withoutControlCharacters(const QString& text)
{
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (!isControl(c))
            clean += c;
    }
    return clean;
}

QByteArray quotedStringBody(const QString& text)
{
    QByteArray quoted;
    for (const char byte : text.toUtf8()) {
        if (byte == '"' || byte == '\\')
            quoted += '\\';
        quoted += byte;
    }
    return quoted;
}

bool isAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

} // namespace

QByteArray fieldDisposition(const QByteArray& fieldName)
{
    return "form-data; name=\"" + fieldName + '"';
}

QByteArray fileDisposition(const QByteArray& fieldName, const QString& fileName)
{
    const QString clean = withoutControlCharacters(fileName);
    QByteArray value = fieldDisposition(fieldName) + "; filename=\"" + quotedStringBody(clean) + '"';
    if (!isAscii(clean)) {
        // attr-char of RFC 5987: ALPHA / DIGIT / "!#$&+-.^_`|~"
        value += "; filename*=UTF-8''" + clean.toUtf8().toPercentEncoding("!#$&+^`|~");
    }
    return value;
}

} // namespace formdata
