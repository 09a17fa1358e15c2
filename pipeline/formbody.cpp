#include "pipeline/formbody.h"

#include "pipeline/uploadform.h"

#include <QIODevice>

#include <cstring>

FormBody::FormBody(const UploadForm& form, QIODevice& file)
    : m_head(form.head())
    , m_tail(form.tail())
    , m_file(file)
    , m_fileLeft(form.fileBytes())
{
}

qint64 FormBody::copyFrom(const QByteArray& part, qint64& offset, char* buffer, qint64 size)
{
    const qint64 count = qMin(size, qint64(part.size()) - offset);
    std::memcpy(buffer, part.constData() + offset, size_t(count));
    offset += count;
    return count;
}

bool FormBody::fileEndsHere()
{
    char extra = 0;
    const qint64 count = m_file.read(&extra, 1);
    if (count == 0)
        return true;
    m_error = count > 0 ? QStringLiteral("The file got longer while it was being sent")
                        : QStringLiteral("Cannot read file: ") + m_file.errorString();
    return false;
}

qint64 FormBody::read(char* buffer, qint64 size)
{
    if (m_headOffset < m_head.size())
        return copyFrom(m_head, m_headOffset, buffer, size);
    if (m_fileLeft > 0) {
        const qint64 count = m_file.read(buffer, qMin(size, m_fileLeft));
        if (count <= 0) {
            m_error = count < 0 ? QStringLiteral("Cannot read file: ") + m_file.errorString()
                                : QStringLiteral("The file got shorter while it was being sent");
            return -1;
        }
        m_fileLeft -= count;
        return count;
    }
    if (!m_fileChecked) {
        if (!fileEndsHere())
            return -1;
        m_fileChecked = true;
    }
    return copyFrom(m_tail, m_tailOffset, buffer, size);
}
