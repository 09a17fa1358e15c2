// Timing figures of the MP3 encoder and the loudness series, one per call:
//   mp3bench encode KBPS IN OUT [IN OUT ...]  one mp3Encoder per pair, all at once
//   mp3bench meter FILE plain|series          one LoudnessMeter pass
// Prints "<seconds> <detail>" on one line; exit code 1 on a failure.
#include "audio/loudnessmeter.h"
#include "audio/mp3encoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

bool encode(int argc, char** argv)
{
    const QString settings = QStringLiteral("-b") + QString::fromLocal8Bit(argv[2]);
    std::vector<std::unique_ptr<mp3Encoder>> encoders;
    QElapsedTimer timer;
    timer.start();
    for (int i = 3; i + 1 < argc; i += 2) {
        auto encoder = std::make_unique<mp3Encoder>();
        encoder->setInputFile(QString::fromLocal8Bit(argv[i]));
        encoder->setOutputFile(QString::fromLocal8Bit(argv[i + 1]));
        encoder->setSettings(settings);
        if (!encoder->start())
            return false;
        encoders.push_back(std::move(encoder));
    }
    bool ok = true;
    for (const auto& encoder : encoders) {
        while (!encoder->isFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ok = ok && encoder->succeeded();
    }
    std::printf("%.3f %zu\n", double(timer.nsecsElapsed()) / 1e9, encoders.size());
    return ok;
}

bool meter(const char* file, bool series)
{
    QElapsedTimer timer;
    timer.start();
    LoudnessMeter meter(QByteArray(file), "K-weighting", 0.4f);
    meter.collectSeries(series);
    meter.measure();
    std::printf("%.3f %.2f %zu\n", double(timer.nsecsElapsed()) / 1e9, meter.lufs(), meter.series().times.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const std::string mode = argv[1];
    try {
        if (mode == "encode" && argc >= 5)
            return encode(argc, argv) ? 0 : 1;
        if (mode == "meter")
            return meter(argv[2], std::string(argv[3]) == "series") ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 2;
}
