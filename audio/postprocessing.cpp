#include "audio/postprocessing.h"

#include "audio/audiolibrary.h"
#include "audio/ceilingrender.h"
#include "audio/channelconverter.h"
#include "audio/gainrenderer.h"
#include "audio/loudnessmeter.h"
#include "settings/naming.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace {

// How often a wait for a render looks at the stop flag.
constexpr int kStopPollMs = 50;

} // namespace

PostProcessing::~PostProcessing()
{
    stop();
    if (m_worker.joinable())
        m_worker.join();
}

void PostProcessing::start()
{
    if (m_started)
        throw std::runtime_error("PostProcessing: started already called");
    m_operations = m_arguments.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    m_worker = std::thread(&PostProcessing::run, this);
    m_started = true;
}

QString PostProcessing::statusText() const
{
    QMutexLocker lock(&statusLock);
    return m_statusText;
}

void PostProcessing::setStatus(const QString& text)
{
    QMutexLocker lock(&statusLock);
    m_statusText = text;
    qDebug() << text;
}

void PostProcessing::run()
{
    m_finished = false;
    m_operationIndex = 0;
    monoStep();
    for (m_operationIndex = 0; m_operationIndex < m_operations.size() && !m_stopRequested; ++m_operationIndex) {
        const QString& line = m_operations.at(m_operationIndex);
        if (line.startsWith(m_normalizeTag))
            normalize(line.mid(9).trimmed());
    }
    if (m_stopRequested) {
        discardOutputs();
    } else {
        if (m_convertedToMono && m_operations.isEmpty())
            m_outputFiles = m_filesToNormalise;
        if (m_convertedToMono)
            keepOrRemoveStereo();
    }
    setStatus(QStringLiteral("Post processing finished"));
    m_finished = true;
    if (m_onFinished)
        m_onFinished();
}

QString PostProcessing::monoFileName(const QString& inputFile)
{
    const QFileInfo info(inputFile);
    // "-dualmono" is taken out of the file name only: removing it from a
    // folder name would point into a folder that does not exist.
    QString base = info.completeBaseName();
    const int at = base.lastIndexOf(QLatin1String("-dualmono"));
    if (at >= 0)
        base.remove(at, 9);
    return naming::uniqueFileName(QDir::toNativeSeparators(info.path() + QLatin1Char('/') + base + QLatin1String(".tmp")), false);
}

void PostProcessing::monoStep()
{
    if (!m_convertToMono) {
        m_filesToNormalise.append(m_inputFile);
        return;
    }
    const QString mono = monoFileName(m_inputFile);
    int result = ChannelConverter::Failed;
    if (!mono.isEmpty()) {
        ChannelConverter converter;
        converter.mode = ChannelConverter::StereoToMono;
        converter.inputFile = m_inputFile.toUtf8();
        converter.outputFile = mono.toUtf8();
        converter.stop = &m_stopRequested;
        converter.convert(true);
        result = converter.result();
    }
    qDebug() << "Stereo to mono conversion result:" << result;
    if (result != ChannelConverter::Converted) {
        m_filesToNormalise.append(m_inputFile);
        return;
    }
    // Without keepStereo the stereo result goes only once a final output
    // exists (see keepOrRemoveStereo).
    if (m_keepStereo)
        m_filesToNormalise.append(m_inputFile);
    m_filesToNormalise.append(mono);
    m_monoFile = mono;
    m_convertedToMono = true;
}

void PostProcessing::keepOrRemoveStereo()
{
    if (m_keepStereo)
        return;
    if (m_outputFiles.isEmpty()) {
        if (m_failureText.isEmpty())
            addFailure(QStringLiteral("No normalised file was made from %1").arg(QDir::toNativeSeparators(m_monoFile)));
        return;
    }
    QFile::remove(m_inputFile);
}

void PostProcessing::discardOutputs()
{
    for (const QString& output : std::as_const(m_outputFiles))
        QFile::remove(output);
    m_outputFiles.clear();
    if (m_convertedToMono)
        QFile::remove(m_monoFile);
    m_failureText = QStringLiteral("Stopped");
    m_notes.clear();
}

bool PostProcessing::parseTarget(const QString& argument, float& target, QString& unit)
{
    QString text = argument.toLower().trimmed();
    if (text.endsWith(QLatin1String("dbrms"))) {
        unit = QStringLiteral("dbrms");
        text.chop(5);
    } else if (text.endsWith(QLatin1String("lufs"))) {
        unit = QStringLiteral("lufs");
        text.chop(4);
    } else {
        return false;
    }
    bool ok = false;
    target = text.trimmed().toFloat(&ok);
    // The number parser takes "nan" and "inf", which are no loudness.
    return ok && std::isfinite(target);
}

float PostProcessing::gainFor(float target, double measured)
{
    if (std::isinf(measured))
        return 1.0f;
    const float difference = static_cast<float>(double(target) - measured);
    return static_cast<float>(std::pow(10.0, double(difference / 20.0f)));
}

QString PostProcessing::outputName(const QString& file, float target, const QString& unit)
{
    const QFileInfo info(file);
    return QDir::toNativeSeparators(info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char(' ')
                                    + QString::number(target, 'g', 6) + QLatin1Char(' ') + unit + QLatin1String(".tmp"));
}

QStringList PostProcessing::plannedOutputs(const QString& input, const QString& arguments, bool toMono)
{
    const QString normalised = toMono ? monoFileName(input) : input;
    QStringList outputs;
    for (const QString& line : arguments.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        float target = 0;
        QString unit;
        if (line.startsWith(m_normalizeTag) && parseTarget(line.mid(9).trimmed(), target, unit))
            outputs << outputName(normalised, target, unit);
    }
    return outputs;
}

void PostProcessing::normalize(const QString& argument)
{
    float target = 0;
    QString unit;
    if (!parseTarget(argument, target, unit))
        return;
    setStatus(QStringLiteral("Normalizing to: ") + argument);
    for (const QString& file : std::as_const(m_filesToNormalise)) {
        if (m_stopRequested)
            return;
        try {
            normalizeFile(file, target, unit);
        } catch (const std::exception& e) {
            // An unreadable file must not end the program: it gets no
            // output, the other files go on, and the caller can show why.
            // The audio layer's text says why a file could not be opened.
            const audiolib::ErrorCode code = audiolib::lastError();
            const QString why = code == audiolib::ErrorCode::Ok
                                    ? QString()
                                    : QStringLiteral(" (%1)").arg(QString::fromLatin1(audiolib::errorText(code)));
            addFailure(QStringLiteral("Error measuring %1: %2%3").arg(QDir::toNativeSeparators(file), QString::fromUtf8(e.what()), why));
        }
    }
}

void PostProcessing::addFailure(const QString& line)
{
    qWarning().noquote() << line;
    if (!m_failureText.isEmpty())
        m_failureText += QLatin1Char('\n');
    m_failureText += line;
}

void PostProcessing::normalizeFile(const QString& file, float target, const QString& unit)
{
    LoudnessMeter meter(file.toUtf8(), "K-weighting", 0.4f);
    meter.collectReport(!std::isnan(m_truePeakCeiling));
    meter.measure(&m_stopRequested);
    const double measured = unit == QLatin1String("lufs") ? meter.lufs() : meter.dbRms();
    if (meter.nonFiniteSamples() > 0)
        qWarning().noquote() << QStringLiteral("%1: %2 non-finite samples measured as silence")
                                    .arg(QDir::toNativeSeparators(file))
                                    .arg(meter.nonFiniteSamples());
    const float gain = gainFor(target, measured);
    qDebug() << "Gain for " << meter.filePath() << gain;
    if (!std::isfinite(gain)) {
        addFailure(QStringLiteral("Error normalising %1: the gain to reach %2 %3 is not a finite number (measured %4)")
                       .arg(QDir::toNativeSeparators(file), QString::number(target, 'g', 6), unit, QString::number(measured)));
        return;
    }

    const QString output = outputName(file, target, unit);
    if (!std::isnan(m_truePeakCeiling) && !std::isinf(measured)
        && CeilingRender::needsLimiting(meter.report().truePeak, 20.0 * std::log10(double(gain)), m_truePeakCeiling)) {
        if (renderWithCeiling(file, output, target, unit, measured, meter.report().truePeak))
            m_outputFiles.append(output);
        return;
    }
    GainRenderer renderer;
    renderer.inputFile = meter.filePath();
    renderer.outputFile = output.toUtf8();
    renderer.gain = gain;
    renderer.start();
    while (!renderer.isFinished() && !m_stopRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollMs));
    renderer.stop();
    if (!renderer.succeeded()) {
        QFile::remove(output);
        addFailure(QStringLiteral("Error rendering %1").arg(output));
        return;
    }
    m_outputFiles.append(output);
}

bool PostProcessing::renderWithCeiling(const QString& file, const QString& output, float target, const QString& unit,
                                       double measured, double truePeak)
{
    CeilingRender render;
    render.input = file.toUtf8();
    render.output = output.toUtf8();
    render.target = double(target);
    render.lufs = unit == QLatin1String("lufs");
    render.ceilingDb = m_truePeakCeiling;
    render.measured = measured;
    render.truePeak = truePeak;
    if (!render.run(&m_stopRequested)) {
        addFailure(QStringLiteral("Error rendering %1: %2").arg(output, render.error()));
        return false;
    }
    if (render.shortBy() > 0)
        addNote(QFileInfo(output).fileName() + QStringLiteral(": ") + render.shortfallText());
    return true;
}

void PostProcessing::addNote(const QString& line)
{
    qWarning().noquote() << line;
    if (!m_notes.isEmpty())
        m_notes += QLatin1Char('\n');
    m_notes += line;
}
