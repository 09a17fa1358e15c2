// The noise-suppression program the client starts before upload.
#include "audio/audiolibrary.h"
#include "denoisejob.h"
#include "denoiseoptions.h"
#include "denoiseparameters.h"

#include <QCoreApplication>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point g_lastWrite;

// Every text goes out in one write of its own, flushed at once.
void say(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    g_lastWrite = Clock::now();
}

int fail(const QString& message, int code)
{
    std::fprintf(stderr, "deepfilternet: %s\n", message.toLocal8Bit().constData());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    DenoiseOptions options;
    QString error;
    if (!options.parse(app.arguments().mid(1), error))
        return fail(error + QStringLiteral("\n") + DenoiseOptions::usage(), 2);
    if (options.help) {
        say(DenoiseOptions::usage().toLocal8Bit());
        return 0;
    }
    if (!QDir(options.modelPath).exists())
        return fail(QStringLiteral("Model folder not found: %1").arg(options.modelPath), 2);
    DenoiseParameters parameters;
    if (!parameters.load(QDir(options.modelPath).filePath(DenoiseParameters::fileName()), error))
        return fail(QStringLiteral("Invalid model: %1").arg(error), 2);

    DenoiseJob job(options, parameters);
    const bool ok = job.run([](int step, int steps) { say(QByteArray::number(step) + "_of_" + QByteArray::number(steps) + "\n"); }, error);
    if (!ok)
        return fail(error, 1);
    if (job.nonFiniteSamples() > 0)
        std::fprintf(stderr, "deepfilternet: warning: %lld non-finite samples taken as silence\n",
            static_cast<long long>(job.nonFiniteSamples()));
    // Older clients take "File Ready" only when it arrives alone, so it is
    // kept apart from the last progress text.
    std::this_thread::sleep_until(g_lastWrite + std::chrono::milliseconds(250));
    say("File Ready\n");
    return 0;
}
