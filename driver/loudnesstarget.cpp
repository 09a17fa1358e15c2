#include "driver/loudnesstarget.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

bool LoudnessTarget::parse(const QString& text, LoudnessTarget& out)
{
    QString rest = text.toLower().trimmed();
    bool isLufs = false;
    if (rest.endsWith(QLatin1String("db"))) {
        rest.chop(2);
    } else if (rest.endsWith(QLatin1String("lufs"))) {
        rest.chop(4);
        isLufs = true;
    } else {
        return false;
    }
    bool ok = false;
    const float value = rest.toFloat(&ok);
    if (!ok)
        return false;
    out.value = value;
    out.lufs = isLufs;
    return true;
}

float LoudnessTarget::gain(double lufsValue, double dbRms) const
{
    const float difference = float(double(value) - measured(lufsValue, dbRms));
    return float(std::pow(10.0, double(difference) / 20.0));
}

QString LoudnessTarget::outputPath(const QString& file) const
{
    const QFileInfo info(file);
    return QDir::toNativeSeparators(info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
                                    + QLatin1Char(' ') + QString::number(double(value), 'g', 6) + QLatin1Char(' ')
                                    + unitLabel() + QStringLiteral(".wav"));
}
