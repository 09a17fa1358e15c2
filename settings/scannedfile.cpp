#include "settings/scannedfile.h"

#include "settings/xmlfields.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

void ScannedFile::readXml(QXmlStreamReader& reader)
{
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == QLatin1String("filePath")) {
            filePath = xmlfields::readText(reader);
        } else if (name == QLatin1String("fileSize")) {
            bool ok = false;
            const qint64 size = xmlfields::readText(reader).toLongLong(&ok, 10);
            fileSize = ok ? size : 0;
        } else if (name == QLatin1String("MD5")) {
            MD5 = xmlfields::readText(reader).toUtf8();
        } else {
            reader.skipCurrentElement();
        }
    }
}

void ScannedFile::writeXml(QXmlStreamWriter& writer) const
{
    writer.writeStartElement(QStringLiteral("ScannedFile"));
    xmlfields::writeText(writer, QStringLiteral("filePath"), filePath);
    xmlfields::writeText(writer, QStringLiteral("fileSize"), QString::number(fileSize));
    xmlfields::writeText(writer, QStringLiteral("MD5"), MD5);
    writer.writeEndElement();
}
