// sonvira-loudness FILE...: the integrated loudness and RMS level of each
// file, measured with the client's own meter.
#include "audio/audiolibrary.h"
#include "audio/loudnessmeter.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

const char* const kUsage =
    "Usage: sonvira-loudness FILE...\n"
    "Prints one line per file:\n"
    "  FILE: <integrated loudness> LUFS, <RMS level> dB RMS\n"
    "The loudness is gated after ITU-R BS.1770 (K-weighting, 0.4 s blocks with\n"
    "75 % overlap, absolute gate -70 LUFS, relative gate -10 LU); the RMS level is\n"
    "that of the unfiltered samples. Both have one decimal. Silence reads -inf LUFS\n"
    "and -160.0 dB RMS; an empty file reads -100.0 for both. A file that cannot be\n"
    "measured is reported on standard error and the exit code is 1 after the\n"
    "other files were measured.\n";

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
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
            meter.measure();
            std::printf("%s: %s LUFS, %s dB RMS\n", file.toLocal8Bit().constData(), formatLevel(meter.lufs()).constData(),
                formatLevel(meter.dbRms()).constData());
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
