#include "dialogs/loudnessplot.h"

#include "audio/loudnessseries.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const char* const LoudnessPlot::kClippingWarning = "peaks above full scale will be clipped";
const char* const LoudnessPlot::kLimitingNote = "peaks above the ceiling will be limited";

namespace {

// A tick step from a list of round values giving at most about 8 labels.
double tickStep(double seconds)
{
    static const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (double step : steps)
        if (seconds / step <= 8.0)
            return step;
    return std::ceil(seconds / 8.0 / 3600.0) * 3600.0;
}

// The plot's bottom: silence reads near -100 LUFS, which would squash the
// interesting part; anything below is drawn at the floor.
constexpr double kFloorLufs = -60.0;
// The time axis of an empty plot: a minute, so that it still reads as a time axis.
constexpr double kEmptySeconds = 60.0;

} // namespace

struct LoudnessPlot::Impl {
    QChart* chart = nullptr;
    QChartView* view = nullptr;
    QCategoryAxis* timeAxis = nullptr;
    QValueAxis* levelAxis = nullptr;

    QLineSeries* addCurve(const QString& name, const QColor& colour, qreal width, Qt::PenStyle style)
    {
        auto* curve = new QLineSeries;
        curve->setName(name);
        QPen pen(colour);
        pen.setWidthF(width);
        pen.setStyle(style);
        curve->setPen(pen);
        chart->addSeries(curve);
        curve->attachAxis(timeAxis);
        curve->attachAxis(levelAxis);
        return curve;
    }
};

LoudnessPlot::LoudnessPlot(QWidget* parent)
    : QWidget(parent)
    , d(new Impl)
{
    d->chart = new QChart;
    d->chart->setTheme(QChart::ChartThemeDark);
    d->chart->setBackgroundBrush(QColor(0x32, 0x32, 0x32));
    d->chart->setMargins(QMargins(4, 4, 4, 4));
    d->chart->legend()->setAlignment(Qt::AlignBottom);
    d->chart->legend()->setLabelColor(Qt::white);
    d->timeAxis = new QCategoryAxis;
    d->timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    d->levelAxis = new QValueAxis;
    d->levelAxis->setTitleText(QStringLiteral("LUFS"));
    d->levelAxis->setLabelFormat(QStringLiteral("%d"));
    for (QAbstractAxis* axis : {static_cast<QAbstractAxis*>(d->timeAxis), static_cast<QAbstractAxis*>(d->levelAxis)}) {
        axis->setLabelsColor(Qt::white);
        axis->setTitleBrush(Qt::white);
        axis->setGridLineColor(QColor(0x55, 0x55, 0x55));
    }
    d->chart->addAxis(d->timeAxis, Qt::AlignBottom);
    d->chart->addAxis(d->levelAxis, Qt::AlignLeft);
    d->view = new QChartView(d->chart, this);
    d->view->setRenderHint(QPainter::Antialiasing);
    d->view->setMinimumHeight(260);
    // A picture to look at: the keyboard passes it by; screen readers get
    // the same levels from the list's rows.
    d->view->setFocusPolicy(Qt::NoFocus);
    d->view->viewport()->setFocusPolicy(Qt::NoFocus);
    d->view->setAccessibleName(tr("Loudness over time"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(d->view);
    clear();
}

LoudnessPlot::~LoudnessPlot()
{
    delete d;
}

QString LoudnessPlot::minutesSeconds(double seconds)
{
    const qint64 whole = qint64(std::lround(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

void LoudnessPlot::clear()
{
    d->chart->removeAllSeries();
    d->chart->setTitle(QStringLiteral("Select a measured file to see its loudness over time"));
    d->chart->setTitleBrush(QColor(0xcc, 0xcc, 0xcc));
    setTimeAxis(kEmptySeconds);
    d->levelAxis->setRange(kFloorLufs, 0);
    d->levelAxis->setTickCount(7);
}

void LoudnessPlot::setTimeAxis(double end)
{
    const QStringList labels = d->timeAxis->categoriesLabels();
    for (const QString& label : labels)
        d->timeAxis->remove(label);
    const double step = tickStep(end);
    for (double t = 0; t <= end + 1e-9; t += step)
        d->timeAxis->append(minutesSeconds(t), t);
    d->timeAxis->setRange(0, end);
}

void LoudnessPlot::showSeries(const LoudnessSeries& series, const Lines& lines)
{
    clear();
    const double end = series.times.empty() ? 1.0 : std::max(series.times.back(), 1.0);
    setTimeAxis(end);

    // Momentary first, so that the steadier short-term curve is drawn over it.
    auto* momentary = d->addCurve(QStringLiteral("Momentary"), QColor(0xb0, 0xb0, 0xb0), 1.0, Qt::SolidLine);
    auto* shortTerm = d->addCurve(QStringLiteral("Short-term"), QColor(0x60, 0x7c, 0xff), 2.5, Qt::SolidLine);
    QList<QPointF> shortPoints, momentaryPoints;
    double top = lines.silent ? kFloorLufs : std::max(lines.integrated, lines.target);
    for (size_t i = 0; i < series.times.size(); ++i) {
        shortPoints.append({series.times[i], std::max(series.shortTerm[i], kFloorLufs)});
        momentaryPoints.append({series.times[i], std::max(series.momentary[i], kFloorLufs)});
        top = std::max(top, series.momentary[i]);
    }
    momentary->replace(momentaryPoints);
    shortTerm->replace(shortPoints);
    auto horizontal = [&](const QString& name, double level, const QColor& colour) {
        auto* line = d->addCurve(name, colour, 1.5, Qt::DashLine);
        line->replace(QList<QPointF>{{0, level}, {end, level}});
    };
    horizontal(QStringLiteral("Integrated"), std::max(lines.integrated, kFloorLufs), QColor(0xff, 0xc8, 0x40));
    // A silent file gets no gain: there is no target to draw.
    if (!lines.silent) {
        horizontal(QStringLiteral("Target"), lines.target, QColor(0x50, 0xd0, 0x70));
        d->chart->series().last()->setName(QStringLiteral("Target ") + lines.targetLabel);
    }
    const bool ceiling = !std::isnan(lines.ceiling);
    if (ceiling) {
        horizontal(QStringLiteral("Ceiling"), lines.ceiling, QColor(0xff, 0x50, 0x50));
        d->chart->series().last()->setName(QStringLiteral("Ceiling %1 dBTP").arg(lines.ceiling, 0, 'f', 1));
        top = std::max(top, lines.ceiling);
    }
    d->levelAxis->setRange(kFloorLufs, std::ceil((top + 3.0) / 10.0) * 10.0);
    d->levelAxis->setTickCount(int(std::lround((d->levelAxis->max() - kFloorLufs) / 10.0)) + 1);
    if (ceiling && !lines.silent && lines.truePeak > lines.ceiling) {
        d->chart->setTitle(lines.title + QStringLiteral(": ") + QLatin1String(kLimitingNote));
        d->chart->setTitleBrush(QColor(0xff, 0xc8, 0x40));
    } else if (lines.clipping && !lines.silent && !ceiling) {
        d->chart->setTitle(lines.title + QStringLiteral(": ") + QLatin1String(kClippingWarning));
        d->chart->setTitleBrush(QColor(0xff, 0x70, 0x70));
    } else {
        d->chart->setTitle(lines.title);
        d->chart->setTitleBrush(Qt::white);
    }
}

QList<QPointF> LoudnessPlot::curvePoints(const QString& name) const
{
    for (QAbstractSeries* series : d->chart->series()) {
        if (series->name().startsWith(name))
            return static_cast<QLineSeries*>(series)->points();
    }
    return {};
}

QStringList LoudnessPlot::curveNames() const
{
    QStringList names;
    for (const QAbstractSeries* series : d->chart->series())
        names << series->name();
    return names;
}

QString LoudnessPlot::titleText() const
{
    return d->chart->title();
}

QStringList LoudnessPlot::timeLabels() const
{
    return d->timeAxis->categoriesLabels();
}
