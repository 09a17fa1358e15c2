#include "headerparams.h"

namespace {

// Reads one parameter value starting at `pos` (after '='), quoted or not.
QByteArray readValue(const QByteArray& text, qsizetype& pos)
{
    QByteArray value;
    if (pos < text.size() && text.at(pos) == '"') {
        ++pos;
        while (pos < text.size() && text.at(pos) != '"') {
            if (text.at(pos) == '\\' && pos + 1 < text.size())
                ++pos;
            value.append(text.at(pos));
            ++pos;
        }
        ++pos;
        while (pos < text.size() && text.at(pos) != ';')
            ++pos;
        return value;
    }
    const qsizetype end = text.indexOf(';', pos);
    value = text.mid(pos, end < 0 ? -1 : end - pos).trimmed();
    pos = end < 0 ? text.size() : end;
    return value;
}

} // namespace

QList<QPair<QByteArray, QByteArray>> headerParameters(const QByteArray& value)
{
    QList<QPair<QByteArray, QByteArray>> params;
    qsizetype pos = value.indexOf(';');
    params.append({value.left(pos < 0 ? value.size() : pos).trimmed().toLower(), QByteArray()});
    while (pos >= 0 && pos < value.size()) {
        ++pos; // past ';'
        const qsizetype equals = value.indexOf('=', pos);
        const qsizetype nextSemicolon = value.indexOf(';', pos);
        if (equals < 0 || (nextSemicolon >= 0 && nextSemicolon < equals)) {
            const QByteArray flag = value.mid(pos, nextSemicolon < 0 ? -1 : nextSemicolon - pos).trimmed();
            if (!flag.isEmpty())
                params.append({flag.toLower(), QByteArray()});
            pos = nextSemicolon;
            continue;
        }
        const QByteArray name = value.mid(pos, equals - pos).trimmed().toLower();
        pos = equals + 1;
        while (pos < value.size() && value.at(pos) == ' ')
            ++pos;
        params.append({name, readValue(value, pos)});
    }
    return params;
}

QByteArray headerParameter(const QList<QPair<QByteArray, QByteArray>>& params, const QByteArray& name)
{
    for (const auto& param : params) {
        if (param.first == name)
            return param.second;
    }
    return {};
}

bool hasHeaderParameter(const QList<QPair<QByteArray, QByteArray>>& params, const QByteArray& name)
{
    for (const auto& param : params) {
        if (param.first == name)
            return true;
    }
    return false;
}

bool decodeExtendedValue(const QByteArray& value, QString& out)
{
    const qsizetype first = value.indexOf('\'');
    const qsizetype second = first < 0 ? -1 : value.indexOf('\'', first + 1);
    if (second < 0)
        return false;
    const QByteArray charset = value.left(first).toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(value.mid(second + 1));
    if (charset == "utf-8")
        out = QString::fromUtf8(bytes);
    else if (charset == "iso-8859-1")
        out = QString::fromLatin1(bytes);
    else
        return false;
    return true;
}
