#pragma once

#include <QString>
#include <QWidget>

#include <limits>

struct LoudnessSeries;

// Loudness of one file over time: short-term and momentary loudness, the
// integrated value and the loudness the chosen target leads to as
// horizontal lines, time in minutes:seconds. A warning replaces the title
// when the target's gain would push the sample peak past full scale. With a
// true-peak ceiling, a line marks it and the title says when the limiter
// will hold peaks down to it (nothing clips then). An empty plot keeps its
// axes.
class LoudnessPlot : public QWidget {
    Q_OBJECT

public:
    explicit LoudnessPlot(QWidget* parent = nullptr);
    ~LoudnessPlot() override;

    struct Lines {
        QString title;          // the file's name
        double integrated = 0;  // LUFS
        double target = 0;      // LUFS after normalisation
        QString targetLabel;    // the chosen target, "-16 LUFS" or "-20 dB RMS = -17.6 LUFS here"
        bool clipping = false;
        bool silent = false;    // no loudness to speak of: no target line, no clipping warning
        double truePeak = 0;    // dBTP after the target's gain
        // dBTP; NaN when no ceiling is set.
        double ceiling = std::numeric_limits<double>::quiet_NaN();
    };
    void showSeries(const LoudnessSeries& series, const Lines& lines);
    void clear();

    // What is drawn, for tests: the points of a curve ("Short-term",
    // "Momentary", "Integrated", "Target", "Ceiling") and the title text.
    QList<QPointF> curvePoints(const QString& name) const;
    QString titleText() const;
    // The names of the curves as the legend shows them.
    QStringList curveNames() const;
    // The x-axis labels in minutes:seconds.
    QStringList timeLabels() const;

    static const char* const kClippingWarning;
    static const char* const kLimitingNote;
    // m:ss for a time in seconds.
    static QString minutesSeconds(double seconds);

private:
    // Labels from 0 to `end` seconds in minutes:seconds.
    void setTimeAxis(double end);

    struct Impl;
    Impl* d;
};
