#include "driver/loudnessrun.h"

#include "audio/ceilingrenderjob.h"
#include "audio/gainrenderer.h"
#include "audio/loudnessmeter.h"
#include "audio/meterjob.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

namespace {

double toDb(double linear)
{
    return 20.0 * std::log10(std::max(linear, 1e-10));
}

} // namespace

// One output: the plain gain, or, where the true peak would pass the
// ceiling, the limited render. Either writes "<output>.part".
struct LoudnessRun::Output {
    GainRenderer renderer;
    std::unique_ptr<CeilingRenderJob> limited;
    QString outputPath;
    LoudnessTarget target;
    bool started = false;
    // Measures an output whose peaks clipped, to tell the level it reached.
    std::unique_ptr<MeterJob> check;

    QString partialPath() const { return outputPath + QStringLiteral(".part"); }
    void start()
    {
        started = true;
        if (limited)
            limited->start();
        else
            renderer.start();
    }
    bool isFinished() const { return limited ? limited->isFinished() : renderer.isFinished(); }
    // Stops a running render and removes what it wrote.
    void abandon()
    {
        renderer.stop();
        if (limited)
            limited->stop();
        if (started)
            QFile::remove(partialPath());
    }
    // After the render finished: the failure reason, or empty when the
    // output is complete under its name (an older file of that name is replaced).
    QString commit()
    {
        const bool succeeded = limited ? limited->succeeded() : renderer.succeeded();
        if (!succeeded) {
            QFile::remove(partialPath());
            const QString reason = limited ? limited->render().error() : renderer.failureReason();
            return reason.isEmpty() ? QStringLiteral("the output could not be written completely") : reason;
        }
        QFile::remove(outputPath);
        if (QFile::rename(partialPath(), outputPath))
            return QString();
        QFile::remove(partialPath());
        return QStringLiteral("cannot rename the output to its name");
    }
};

bool LoudnessRun::isSilent(const LoudnessMeter& meter)
{
    return !(meter.lufs() > kSilentLufs);
}

LoudnessRun::LoudnessRun(const LoudnessTarget& target, bool limitTruePeak,
                         const std::vector<const LoudnessMeter*>& measured)
{
    for (const LoudnessMeter* meter : measured) {
        if (!meter || isSilent(*meter))
            continue;
        const QString source = QString::fromUtf8(meter->filePath());
        const float gain = target.gain(meter->lufs(), meter->dbRms());
        if (target.lufs)
            qDebug() << "Gain for " << source << gain;
        auto output = std::make_unique<Output>();
        output->renderer.inputFile = meter->filePath();
        output->outputPath = QDir::fromNativeSeparators(target.outputPath(source));
        output->target = target;
        output->renderer.outputFile = output->partialPath().toUtf8();
        output->renderer.gain = gain;
        if (limitTruePeak && CeilingRender::needsLimiting(meter->report().truePeak, toDb(gain), kCeilingDbtp)) {
            CeilingRender render;
            render.input = meter->filePath();
            render.output = output->renderer.outputFile;
            render.target = double(target.value);
            render.lufs = target.lufs;
            render.ceilingDb = kCeilingDbtp;
            render.measured = target.measured(meter->lufs(), meter->dbRms());
            render.truePeak = meter->report().truePeak;
            output->limited = std::make_unique<CeilingRenderJob>(render);
        }
        m_outputs.push_back(std::move(output));
    }
}

LoudnessRun::~LoudnessRun()
{
    for (const auto& output : m_outputs)
        output->abandon();
}

LoudnessRun::Step LoudnessRun::tick()
{
    Step step;
    if (m_outputs.empty())
        return step;
    Output& output = *m_outputs.front();
    if (!output.started) {
        output.start();
        step.started = QDir::toNativeSeparators(output.outputPath);
        return step;
    }
    if (!output.isFinished())
        return step;
    if (!output.check) {
        const QString failure = output.commit();
        if (failure.isEmpty() && output.renderer.clippedSamples() > 0) {
            output.check = std::make_unique<MeterJob>(QDir::toNativeSeparators(output.outputPath).toUtf8(), false);
            output.check->start();
            return step;
        }
        // A limited output that stays under its target says by how much.
        const bool underTarget = output.limited && output.limited->render().shortBy() > 0;
        step.ended = !failure.isEmpty() ? QStringLiteral(" failed: ") + failure
            : underTarget               ? QStringLiteral(" OK, but ") + output.limited->render().shortfallText()
                                        : QStringLiteral(" OK");
    } else if (output.check->isDone()) {
        step.ended = clippingReport(output);
    } else {
        return step;
    }
    m_outputs.erase(m_outputs.begin());
    return step;
}

QString LoudnessRun::clippingReport(const Output& output)
{
    QString report = QStringLiteral(" OK, but %1 samples clipped").arg(output.renderer.clippedSamples());
    if (const LoudnessMeter* meter = output.check->meter()) {
        const double reached = output.target.measured(meter->lufs(), meter->dbRms());
        report += QStringLiteral("; it reached %1 %2").arg(QString::number(reached, 'f', 1), output.target.unitLabel());
    }
    return report;
}
