#pragma once

#include <QByteArray>
#include <QString>

class QXmlStreamReader;
class QXmlStreamWriter;

// A file already seen in a watched folder. A size of -1 marks a placeholder
// for an output file the client is about to write into the folder.
struct ScannedFile {
    QString filePath;
    qint64 fileSize = -1;
    QByteArray MD5;

    void readXml(QXmlStreamReader& reader);
    void writeXml(QXmlStreamWriter& writer) const;
    bool isPlaceholder() const { return fileSize == -1; }
};
