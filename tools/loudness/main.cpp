// sonvira-loudness [--json] FILE...: the integrated loudness and RMS level
// of each file, measured with the client's own meter; with --json the whole
// report (loudness range, maxima, true and sample peak) as one JSON object
// per file and line.
#include "audio/audiolibrary.h"
#include "audio/loudnessmeter.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

const char* const kUsage =
    "Usage: sonvira-loudness [--json] FILE...\n"
    "Prints one line per file:\n"
    "  FILE: <integrated loudness> LUFS, <RMS level> dB RMS\n"
    "The loudness is gated after ITU-R BS.1770 (K-weighting, 0.4 s blocks with\n"
    "75 % overlap, absolute gate -70 LUFS, relative gate -10 LU); the RMS level is\n"
    "that of the unfiltered samples. Both have one decimal. Silence and files\n"
    "shorter than one block (0.4 s) read -inf LUFS, silence -160.0 dB RMS; an\n"
    "empty file reads -100.0 for both. Samples that are no number are measured\n"
    "as silence, with a warning on standard error. A file that cannot be\n"
    "measured is reported on standard error and the exit code is 1 after the\n"
    "other files were measured.\n"
    "\n"
    "With --json, each line is one JSON object with the keys\n"
    "  file                 the path as given\n"
    "  integrated_lufs      integrated loudness (LUFS)\n"
    "  rms_db               RMS level of the unfiltered samples (dB)\n"
    "  loudness_range_lu    loudness range (LU): 10th to 95th percentile of the\n"
    "                       short-term loudness of 3 s windows every 10 ms, gated\n"
    "                       at -70 LUFS and 20 LU below their mean\n"
    "  max_momentary_lufs   loudest 0.4 s window (LUFS)\n"
    "  max_short_term_lufs  loudest 3 s window (LUFS)\n"
    "  true_peak_dbtp       peak between the samples too, oversampled (dBTP)\n"
    "  sample_peak_dbfs     largest sample (dBFS)\n"
    "Each is a number, or null where the figure does not exist: the loudness\n"
    "and peaks of silence, the integrated loudness of less than 0.4 s, the\n"
    "momentary maximum of less than 0.4 s, the short-term maximum and the range\n"
    "of less than 3 s, every figure of an empty file.\n";

QByteArray formatLevel(double value)
{
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    return QByteArray::number(value, 'f', 1);
}

// The meter's text, and what the audio layer says about a file it could
// not open.
QByteArray failureText(const std::exception& e)
{
    QByteArray text(e.what());
    const audiolib::ErrorCode code = audiolib::lastError();
    if (code != audiolib::ErrorCode::Ok)
        text += QByteArray(" (") + audiolib::errorText(code) + ")";
    return text;
}

QJsonValue jsonLevel(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

QByteArray jsonLine(const QString& file, const LoudnessMeter& meter)
{
    const LoudnessReport& report = meter.report();
    QJsonObject line;
    line["file"] = file;
    // An empty file has no figure at all (the plain line keeps its -100).
    const bool empty = meter.frames() == 0;
    line["integrated_lufs"] = empty ? QJsonValue(QJsonValue::Null) : jsonLevel(meter.lufs());
    line["rms_db"] = empty ? QJsonValue(QJsonValue::Null) : jsonLevel(meter.dbRms());
    line["loudness_range_lu"] = jsonLevel(report.loudnessRange);
    line["max_momentary_lufs"] = jsonLevel(report.maxMomentary);
    line["max_short_term_lufs"] = jsonLevel(report.maxShortTerm);
    line["true_peak_dbtp"] = jsonLevel(report.truePeak);
    line["sample_peak_dbfs"] = jsonLevel(report.samplePeak);
    return QJsonDocument(line).toJson(QJsonDocument::Compact);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    const bool json = files.removeAll(QStringLiteral("--json")) > 0;
    if (files.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (files.contains(QStringLiteral("--help")) || files.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!audiolib::initialize())
        std::fprintf(stderr, "%s%d\n", audiolib::kInitErrorText, audiolib::lastErrorCode());
    int exitCode = 0;
    for (const QString& file : files) {
        try {
            LoudnessMeter meter(file.toUtf8(), "K-weighting", 0.4f);
            meter.collectReport(json);
            meter.measure();
            if (json)
                std::printf("%s\n", jsonLine(file, meter).constData());
            else
                std::printf("%s: %s LUFS, %s dB RMS\n", file.toLocal8Bit().constData(),
                    formatLevel(meter.lufs()).constData(), formatLevel(meter.dbRms()).constData());
            std::fflush(stdout);
            if (meter.nonFiniteSamples() > 0)
                std::fprintf(stderr, "sonvira-loudness: warning: %s: %lld non-finite samples measured as silence\n",
                    file.toLocal8Bit().constData(), static_cast<long long>(meter.nonFiniteSamples()));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "sonvira-loudness: cannot measure %s: %s\n", file.toLocal8Bit().constData(),
                failureText(e).constData());
            exitCode = 1;
        }
    }
    audiolib::release();
    return exitCode;
}
