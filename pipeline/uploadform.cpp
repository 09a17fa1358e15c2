#include "pipeline/uploadform.h"

#include "pipeline/formdata.h"

#include <QRandomGenerator>

namespace {

// 24 random bytes, 32 characters in URL-safe Base64: no file's bytes will
// hold it by chance, and it stays within the 70 characters a boundary may
// have. Letters, digits, "-", "_" and "." only, so it is a plain token that
// needs no quotes in the Content-Type header: a server that does not
// unquote parameters reads it as well as one that does.
QByteArray randomBoundary()
{
    quint32 random[6];
    QRandomGenerator::global()->fillRange(random);
    return "boundary_.oOo._"
        + QByteArray(reinterpret_cast<const char*>(random), sizeof(random))
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray partStart(const QByteArray& boundary, const QByteArray& disposition)
{
    return "--" + boundary + "\r\nContent-Disposition: " + disposition + "\r\n";
}

QByteArray field(const QByteArray& boundary, const QByteArray& name, const QByteArray& value)
{
    return partStart(boundary, formdata::fieldDisposition(name)) + "\r\n" + value + "\r\n";
}

} // namespace

UploadForm::UploadForm(const QString& fileName, const QByteArray& fileType, qint64 fileBytes, int presetId,
                       bool acceptAnyway)
    : m_boundary(randomBoundary())
    , m_fileBytes(fileBytes)
{
    m_head = partStart(m_boundary, formdata::fileDisposition("file", fileName)) + "Content-Type: " + fileType
        + "\r\n\r\n";
    m_tail = "\r\n" + field(m_boundary, "presetId", QByteArray::number(presetId))
        + field(m_boundary, "acceptAnyway", acceptAnyway ? "true" : "false") + "--" + m_boundary + "--\r\n";
}

QByteArray UploadForm::contentType() const
{
    return "multipart/form-data; boundary=" + m_boundary;
}
