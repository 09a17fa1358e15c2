#include "multipartform.h"

#include "headerparams.h"

namespace {

// Part headers longer than this are taken as a broken body, not searched further.
constexpr qsizetype kMaxPartHeaderBytes = 64 * 1024;

} // namespace

QByteArray multipartBoundary(const QByteArray& contentType)
{
    const auto params = headerParameters(contentType);
    if (params.first().first != "multipart/form-data")
        return {};
    return headerParameter(params, "boundary");
}

bool MultipartForm::parse(const QByteArray& contentType, const QByteArray& body)
{
    body_ = body;
    parts_.clear();
    const QByteArray boundary = multipartBoundary(contentType);
    if (boundary.isEmpty()) {
        error_ = "Content-Type must be multipart/form-data with a boundary";
        return false;
    }
    const QByteArray delimiter = "\r\n--" + boundary;
    qsizetype pos = 0;
    if (body_.startsWith(delimiter.mid(2))) {
        pos = delimiter.size() - 2;
    } else {
        const qsizetype first = body_.indexOf(delimiter);
        if (first < 0) {
            error_ = "multipart body has no boundary";
            return false;
        }
        pos = first + delimiter.size();
    }
    for (;;) {
        if (QByteArrayView(body_).sliced(pos).startsWith("--"))
            return true;
        const qsizetype lineEnd = body_.indexOf("\r\n", pos);
        if (lineEnd < 0 || !body_.mid(pos, lineEnd - pos).trimmed().isEmpty()) {
            error_ = "multipart boundary line is malformed";
            return false;
        }
        const qsizetype partStart = lineEnd + 2;
        const qsizetype next = body_.indexOf(delimiter, partStart);
        if (next < 0) {
            error_ = "multipart body ends inside a part";
            return false;
        }
        if (!parsePart(partStart, next))
            return false;
        pos = next + delimiter.size();
    }
}

bool MultipartForm::parsePart(qsizetype headerStart, qsizetype dataEnd)
{
    const QByteArrayView rest = QByteArrayView(body_).sliced(headerStart, dataEnd - headerStart);
    qsizetype headerEnd = 0;
    qsizetype dataStart = 0;
    if (rest.startsWith("\r\n")) {
        dataStart = headerStart + 2;
    } else {
        headerEnd = rest.first(qMin(rest.size(), kMaxPartHeaderBytes)).indexOf(QByteArrayView("\r\n\r\n"));
        if (headerEnd < 0) {
            error_ = "multipart part headers are malformed";
            return false;
        }
        dataStart = headerStart + headerEnd + 4;
    }
    FormPart part;
    const QList<QByteArray> lines = rest.first(headerEnd).toByteArray().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-type") {
            part.contentType = value;
        } else if (name == "content-disposition") {
            const auto params = headerParameters(value);
            part.name = headerParameter(params, "name");
            part.hasFileName = hasHeaderParameter(params, "filename") || hasHeaderParameter(params, "filename*");
            if (!decodeExtendedValue(headerParameter(params, "filename*"), part.fileName))
                part.fileName = QString::fromUtf8(headerParameter(params, "filename"));
        }
    }
    part.offset = dataStart;
    part.size = dataEnd - dataStart;
    parts_.append(part);
    return true;
}

const FormPart* MultipartForm::part(const QByteArray& name) const
{
    for (const FormPart& part : parts_) {
        if (part.name == name)
            return &part;
    }
    return nullptr;
}

QByteArrayView MultipartForm::data(const FormPart& part) const
{
    return QByteArrayView(body_).sliced(part.offset, part.size);
}
