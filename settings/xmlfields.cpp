#include "settings/xmlfields.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace xmlfields {

QString readText(QXmlStreamReader& reader)
{
    return reader.readElementText(QXmlStreamReader::SkipChildElements);
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
    writer.writeTextElement(name, value);
}

void writeText(QXmlStreamWriter& writer, const QString& name, const QByteArray& utf8Value)
{
    writer.writeTextElement(name, QString::fromUtf8(utf8Value));
}

} // namespace xmlfields
