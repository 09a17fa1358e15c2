#include "pipeline/singlereadfile.h"

bool SingleReadFile::seek(qint64 position)
{
    if (m_read || position != 0)
        return false;
    return QFile::seek(position);
}

qint64 SingleReadFile::readData(char* data, qint64 maxSize)
{
    const qint64 count = QFile::readData(data, maxSize);
    if (count > 0)
        m_read = true;
    return count;
}
