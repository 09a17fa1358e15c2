#include "video/filemove.h"

#include <QDebug>
#include <QFile>

namespace {

constexpr qint64 kBlockBytes = 1 << 20;

} // namespace

FileMove::FileMove(const QString& source, const QString& target)
    : m_source(source)
    , m_target(target)
{
    m_worker = std::thread(&FileMove::copy, this);
}

FileMove::~FileMove()
{
    m_stop = true;
    m_worker.join();
    // A copy never renamed to its target (stopped, failed or not finished) goes.
    if (!m_renamed)
        QFile::remove(partialName(m_target));
}

QString FileMove::partialName(const QString& target)
{
    return target + QStringLiteral(".part");
}

void FileMove::copy()
{
    QFile in(m_source);
    QFile out(partialName(m_target));
    bool ok = in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    while (ok && !m_stop) {
        const QByteArray block = in.read(kBlockBytes);
        if (block.isEmpty()) {
            ok = in.atEnd();
            break;
        }
        ok = out.write(block) == block.size();
    }
    ok = ok && !m_stop && out.flush() && out.size() == in.size();
    out.close();
    if (!ok)
        out.remove();
    m_copied = ok;
    m_done = true;
}

QString FileMove::finish()
{
    if (!m_copied)
        return QString();
    // A file that took the target's name meanwhile is not replaced.
    if (!QFile::rename(partialName(m_target), m_target))
        return QString();
    m_renamed = true;
    QFile::remove(m_source);
    qDebug().noquote() << "File" << m_source << "moved to" << m_target;
    return m_target;
}
