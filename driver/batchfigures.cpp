#include "driver/batchfigures.h"

QString BatchFigures::text() const
{
    if (running) {
        QString text = QStringLiteral("%1 of %2 files, %3 %").arg(finished).arg(total).arg(percent);
        if (secondsLeft >= 0)
            text += QStringLiteral(", about %1 left").arg(durationText(secondsLeft));
        return text;
    }
    if (total == 0)
        return QStringLiteral("Idle");
    // One file is done or failed, not both.
    if (total == 1)
        return errors == 0 ? QStringLiteral("1 file done") : QStringLiteral("1 file failed");
    QString text = QStringLiteral("All %1 files done").arg(total);
    if (errors == 1)
        text += QStringLiteral(", 1 error");
    else if (errors > 1)
        text += QStringLiteral(", %1 errors").arg(errors);
    return text;
}

bool BatchFigures::operator==(const BatchFigures& other) const
{
    return total == other.total && finished == other.finished && errors == other.errors && waiting == other.waiting
        && percent == other.percent && secondsLeft == other.secondsLeft && running == other.running;
}

QString durationText(int seconds)
{
    // Under a minute, by 5 s: an estimate is not worth more.
    const int byFive = qMax(5, (seconds + 4) / 5 * 5);
    if (byFive < 60)
        return QStringLiteral("%1 s").arg(byFive);
    const int minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}
