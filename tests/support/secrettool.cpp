#include "secrettool.h"

#include <QProcess>
#include <QString>

QByteArray keychainSecretOf(const QByteArray& account)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"),
                                               QStringLiteral("Sonvira desktop"), QStringLiteral("user"),
                                               QString::fromUtf8(account)});
    if (!tool.waitForFinished(20000))
        return "<secret-tool did not answer>";
    return tool.readAllStandardOutput();
}
