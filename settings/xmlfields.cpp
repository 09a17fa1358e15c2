#include "settings/xmlfields.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cctype>

namespace {

// XML 1.0 cannot carry most control characters, not even as character
// references, yet file names may hold them; a carriage return it carries
// only to have the reader turn it into a line feed. A text holding one is written
// with these characters and '%' as %XX and marked escaped="percent"; every
// other text is written as it is, so files without such names keep their
// exact form.
const QString kEscapedAttribute = QStringLiteral("escaped");
const QString kPercentEscapes = QStringLiteral("percent");

bool unwritable(QChar c)
{
    return c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n');
}

QString percentEscaped(const QString& value)
{
    QString text;
    text.reserve(value.size() + 8);
    for (const QChar c : value) {
        if (unwritable(c) || c == QLatin1Char('%'))
            text += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            text += c;
    }
    return text;
}

QString percentUnescaped(const QString& text)
{
    const auto hexDigit = [](QChar c) { return std::isxdigit(static_cast<unsigned char>(c.toLatin1())) != 0; };
    QString value;
    value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 2 < text.size() && hexDigit(text[i + 1]) && hexDigit(text[i + 2])) {
            value += QChar(text.mid(i + 1, 2).toUShort(nullptr, 16));
            i += 2;
        } else {
            value += text[i];
        }
    }
    return value;
}

} // namespace

namespace xmlfields {

QString readText(QXmlStreamReader& reader)
{
    const bool escaped = reader.attributes().value(kEscapedAttribute) == kPercentEscapes;
    const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
    return escaped ? percentUnescaped(text) : text;
}

bool readBool(QXmlStreamReader& reader)
{
    return readText(reader) == QLatin1String("true");
}

void writeBool(QXmlStreamWriter& writer, const QString& name, bool value)
{
    writer.writeTextElement(name, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void writeText(QXmlStreamWriter& writer, const QString& name, const QString& value)
{
    if (std::none_of(value.begin(), value.end(), unwritable)) {
        writer.writeTextElement(name, value);
        return;
    }
    writer.writeStartElement(name);
    writer.writeAttribute(kEscapedAttribute, kPercentEscapes);
    writer.writeCharacters(percentEscaped(value));
    writer.writeEndElement();
}

void writeText(QXmlStreamWriter& writer, const QString& name, const QByteArray& utf8Value)
{
    writeText(writer, name, QString::fromUtf8(utf8Value));
}

} // namespace xmlfields
