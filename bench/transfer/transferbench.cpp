// Drives the client's WebAPI against a running sonvira-service for the
// transfer benchmark:
//   transferbench makewav PATH MEGABYTES        a 48 kHz stereo 16-bit noise WAV
//   transferbench roundtrip URL FILE TARGET     upload, wait for the job, download;
//                                               prints "upload=S download=S"
//   transferbench download URL JOBID TARGET     download one result; prints the
//                                               resident memory before it and its
//                                               peak during it: "idle_kb=N peak_kb=N"
#include "audio/audiolibrary.h"
#include "pipeline/webapi.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <cstdio>
#include <vector>

namespace {

constexpr int kReadyStatus = 8;

qint64 statusKb(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Makes the kernel's peak-resident counter start again from the current size.
void resetPeakMemory()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

int makeWav(const QString& path, qint64 megabytes)
{
    audiolib::StreamInfo info;
    info.sampleRate = 48000;
    info.channels = 2;
    info.format = audiolib::SampleFormat::Int16;
    audiolib::WavWriter writer;
    if (!writer.open(path.toUtf8(), info, audiolib::WavFormat::Pcm16))
        return 1;
    std::vector<qint16> block(1 << 20);
    quint32 state = 2463534242u;
    for (qint64 written = 0; written < megabytes * 1024 * 1024; written += qint64(block.size() * 2)) {
        for (qint16& sample : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            sample = qint16(state >> 18);
        }
        if (!writer.write(block.data(), qint64(block.size() * 2)))
            return 1;
    }
    return writer.close() ? 0 : 1;
}

bool logIn(WebAPI& api, const QString& url)
{
    api.setBaseUrl(url.toUtf8());
    if (api.login("demo@sonvira.local", "demo"))
        return true;
    std::fprintf(stderr, "log-in failed: %s\n", qPrintable(api.lastError()));
    return false;
}

bool waitUntilReady(WebAPI& api, int jobId)
{
    for (;;) {
        const int status = api.getJob(jobId).value("status").toInt();
        if (status == kReadyStatus)
            return true;
        if (status > kReadyStatus || status == 0)
            return false;
        QThread::msleep(20);
    }
}

int roundTrip(const QString& url, const QString& file, const QString& target)
{
    WebAPI api;
    if (!logIn(api, url))
        return 1;
    QElapsedTimer clock;
    clock.start();
    const int jobId = api.submitJob(file, 4, true);
    const double upload = clock.elapsed() / 1000.0;
    if (jobId < 0 || !waitUntilReady(api, jobId)) {
        std::fprintf(stderr, "job failed: %s\n", qPrintable(api.lastError()));
        return 1;
    }
    api.overwriteResult = true;
    clock.restart();
    const QString written = api.downloadResult(jobId, target);
    const double download = clock.elapsed() / 1000.0;
    if (written.isEmpty()) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(api.lastError()));
        return 1;
    }
    std::printf("upload=%.3f download=%.3f\n", upload, download);
    return 0;
}

int downloadOnly(const QString& url, int jobId, const QString& target)
{
    WebAPI api;
    if (!logIn(api, url) || !waitUntilReady(api, jobId))
        return 1;
    api.overwriteResult = true;
    const qint64 idle = statusKb("VmRSS:");
    resetPeakMemory();
    const QString written = api.downloadResult(jobId, target);
    const qint64 peak = statusKb("VmHWM:");
    if (written.isEmpty()) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(api.lastError()));
        return 1;
    }
    std::printf("idle_kb=%lld peak_kb=%lld\n", static_cast<long long>(idle), static_cast<long long>(peak));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "makewav")
        return makeWav(args[2], args[3].toLongLong());
    if (args.size() == 5 && args[1] == "roundtrip")
        return roundTrip(args[2], args[3], args[4]);
    if (args.size() == 5 && args[1] == "download")
        return downloadOnly(args[2], args[3].toInt(), args[4]);
    std::fprintf(stderr, "usage: transferbench makewav PATH MB | roundtrip URL FILE TARGET | download URL JOBID TARGET\n");
    return 2;
}
