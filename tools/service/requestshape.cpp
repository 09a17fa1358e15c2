#include "requestshape.h"

#include "headerparams.h"
#include "multipartform.h"

#include <algorithm>

namespace requestshape {

namespace {

bool isDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

QByteArray mediaType(const QByteArray& value)
{
    return headerParameters(value).first().first;
}

bool hasHeader(const ApiRequest& request, const QByteArray& name)
{
    return std::any_of(request.headers.begin(), request.headers.end(),
                       [&name](const auto& header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
}

} // namespace

QString jsonRequest(const ApiRequest& request)
{
    if (mediaType(request.header("Content-Type")) != "application/json")
        return QStringLiteral("Content-Type must be application/json");
    return {};
}

QString logIn(const ApiRequest& request)
{
    if (hasHeader(request, "Authorization"))
        return QStringLiteral("The log-in carries no Authorization header");
    return jsonRequest(request);
}

QString resultRequest(const ApiRequest& request)
{
    if (hasHeader(request, "Content-Type"))
        return QStringLiteral("A result request carries no Content-Type");
    return {};
}

QString uploadForm(const MultipartForm& form)
{
    const QList<FormPart>& parts = form.parts();
    const QByteArrayList names{"file", "presetId", "acceptAnyway"};
    if (parts.size() != names.size()
        || !std::equal(parts.begin(), parts.end(), names.begin(),
                       [](const FormPart& part, const QByteArray& name) { return part.name == name; }))
        return QStringLiteral("The form must hold the parts file, presetId and acceptAnyway, in this order");
    if (!parts.at(0).hasFileName || parts.at(0).fileName.isEmpty())
        return QStringLiteral("The part file needs a file name");
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (parts.at(i).hasFileName || !parts.at(i).contentType.isEmpty())
            return QStringLiteral("The parts presetId and acceptAnyway are plain values");
    }
    if (!isDigits(form.data(parts.at(1))))
        return QStringLiteral("presetId must be a decimal number");
    const QByteArrayView accept = form.data(parts.at(2));
    if (accept != "true" && accept != "false")
        return QStringLiteral("acceptAnyway must be true or false");
    return {};
}

QString uploadType(const MultipartForm& form)
{
    const QByteArray type = mediaType(form.parts().value(0).contentType);
    if (type != "audio/wav" && type != "audio/mpeg")
        return QStringLiteral("The file must be sent as audio/wav or audio/mpeg");
    return {};
}

} // namespace requestshape
