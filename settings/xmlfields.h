#pragma once

#include <QByteArray>
#include <QString>

class QXmlStreamReader;
class QXmlStreamWriter;

// Field conventions shared by the settings file's records: booleans are
// "true"/"false" (only exactly "true" reads as true), text is UTF-8. A text
// holding a control character XML cannot carry is written percent-escaped
// and marked so (escaped="percent"), and read back whole.
namespace xmlfields {

// The text of the current element; child elements inside it are skipped.
QString readText(QXmlStreamReader& reader);
bool readBool(QXmlStreamReader& reader);

void writeBool(QXmlStreamWriter& writer, const QString& name, bool value);
void writeText(QXmlStreamWriter& writer, const QString& name, const QString& value);
void writeText(QXmlStreamWriter& writer, const QString& name, const QByteArray& utf8Value);

} // namespace xmlfields
