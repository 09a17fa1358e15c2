#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// One part of a multipart/form-data body. The data stays inside the body it
// was parsed from; `offset` and `size` locate it.
struct FormPart {
    QByteArray name;
    QString fileName;
    bool hasFileName = false;
    QByteArray contentType;
    qsizetype offset = 0;
    qsizetype size = 0;
};

// Reads a multipart/form-data request body without copying the part data.
class MultipartForm {
public:
    // False when the content type carries no boundary or the body does not
    // follow the multipart framing; `error()` says why.
    bool parse(const QByteArray& contentType, const QByteArray& body);

    const FormPart* part(const QByteArray& name) const;
    // Every part, in the order of the body.
    const QList<FormPart>& parts() const { return parts_; }
    QByteArrayView data(const FormPart& part) const;
    const QString& error() const { return error_; }

private:
    bool parsePart(qsizetype headerStart, qsizetype dataEnd);

    QByteArray body_;
    QList<FormPart> parts_;
    QString error_;
};

// The boundary parameter of a multipart content type, empty when missing.
QByteArray multipartBoundary(const QByteArray& contentType);
