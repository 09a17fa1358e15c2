#pragma once

#include <QByteArray>
#include <QString>

// The multipart/form-data body of a job submission: the parts "file" (the
// audio file's bytes with its name and type), "presetId" and
// "acceptAnyway", each as "--<boundary>\r\n", its header lines, an empty
// line, its body and "\r\n", then "--<boundary>--\r\n". The file's bytes are
// not held: head() goes before them and tail() after them, so the body's
// length is known before a byte of the file is read.
class UploadForm final {
public:
    UploadForm(const QString& fileName, const QByteArray& fileType, qint64 fileBytes, int presetId,
               bool acceptAnyway);

    // multipart/form-data; boundary=<boundary>
    QByteArray contentType() const;
    QByteArray head() const { return m_head; }
    QByteArray tail() const { return m_tail; }
    qint64 fileBytes() const { return m_fileBytes; }
    // The whole body's length: head, file and tail.
    qint64 length() const { return m_head.size() + m_fileBytes + m_tail.size(); }

private:
    QByteArray m_boundary;
    QByteArray m_head;
    QByteArray m_tail;
    qint64 m_fileBytes;
};
