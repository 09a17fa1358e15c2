#include "settings/newfileread.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

constexpr qint64 kBlockBytes = 1024 * 1024;

} // namespace

NewFileRead NewFileRead::of(const QString& path, bool takeIncomplete,
                            const std::function<void(wavheader::Verdict)>& judged,
                            const std::function<bool()>& stopped)
{
    NewFileRead result;
    result.stage = Stage::Failed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.header = wavheader::judge(file, file.size());
    if (judged)
        judged(result.header);
    if (result.header == wavheader::Verdict::Incomplete && !takeIncomplete) {
        result.stage = Stage::Read;
        return result;
    }
    if (!file.seek(0))
        return result;
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block;
    while (!file.atEnd()) {
        if (stopped && stopped())
            return result;
        block = file.read(kBlockBytes);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return result;
        hash.addData(block);
    }
    if (file.error() != QFileDevice::NoError)
        return result;
    result.digest = hash.result().toHex();
    result.stage = Stage::Read;
    return result;
}
