#include "apiclient.h"
#include "audiofixtures.h"
#include "serviceprocess.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <sndfile.h>

// What the presets do to the audio, checked with libebur128 and libsndfile
// as independent references.
class TestServiceProcessing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void presetsReachTheirLoudness_data();
    void presetsReachTheirLoudness();
    void speechPresetRemovesRumble();
    void gainStopsBelowThePeakCeiling();
    void silenceStaysSilent();
    void resultKeepsTheSourceResolution_data();
    void resultKeepsTheSourceResolution();
    void compressedUploadComesBackAsWav();

private:
    // Uploads `path` with `presetId`, waits for the job and downloads the result.
    QString process(const QString& path, int presetId, const QString& resultName);

    QTemporaryDir dir_;
    ServiceProcess* service_ = nullptr;
    ApiClient* api_ = nullptr;
    QString token_;
};

namespace {

// Amplitude of one frequency in the first channel (Goertzel).
double toneAmplitude(const std::vector<float>& interleaved, int channels, int rate, double frequency)
{
    const size_t frames = interleaved.size() / size_t(channels);
    const double w = 2.0 * M_PI * frequency / rate;
    double s1 = 0;
    double s2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double s = interleaved[i * size_t(channels)] + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / double(frames);
}

struct FileFormat {
    int subtype = 0;
    int rate = 0;
    int channels = 0;
    sf_count_t frames = 0;
};

FileFormat formatOf(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    sf_close(file);
    return {info.format & SF_FORMAT_SUBMASK, info.samplerate, info.channels, info.frames};
}

std::vector<float> mixed(const std::vector<float>& a, const std::vector<float>& b)
{
    std::vector<float> out(a);
    for (size_t i = 0; i < out.size() && i < b.size(); ++i)
        out[i] += b[i];
    return out;
}

} // namespace

void TestServiceProcessing::initTestCase()
{
    QVERIFY(dir_.isValid());
    service_ = new ServiceProcess({"--step-ms", "0", "--credit", "1000"});
    QVERIFY2(service_->start(), qPrintable(service_->errorString()));
    api_ = new ApiClient(service_->apiUrl());
    token_ = api_->logIn(ServiceProcess::demoEmail(), ServiceProcess::demoPassword());
    QVERIFY(!token_.isEmpty());
}

void TestServiceProcessing::cleanupTestCase()
{
    delete api_;
    delete service_;
}

QString TestServiceProcessing::process(const QString& path, int presetId, const QString& resultName)
{
    const int id = api_->submitFile(token_, path, presetId).json().value("id").toInt();
    if (id <= 0 || api_->waitForJob(token_, id, 60000).value("status").toInt() != 8)
        return {};
    const ApiClient::Reply result = api_->get("/Jobs/" + QString::number(id) + "/Result", token_);
    const QString out = dir_.filePath(resultName);
    QFile file(out);
    if (result.status != 200 || !file.open(QIODevice::WriteOnly) || file.write(result.body) != result.body.size())
        return {};
    return out;
}

void TestServiceProcessing::presetsReachTheirLoudness_data()
{
    QTest::addColumn<int>("presetId");
    QTest::addColumn<double>("target");
    QTest::newRow("speech") << 1 << -16.0;
    QTest::newRow("music") << 2 << -14.0;
    QTest::newRow("broadcast") << 3 << -23.0;
}

void TestServiceProcessing::presetsReachTheirLoudness()
{
    QFETCH(int, presetId);
    QFETCH(double, target);
    const fixtures::Signal signal;
    const QString input = dir_.filePath(QString("pink-%1.wav").arg(presetId));
    QVERIFY(fixtures::writeWav(input, fixtures::pinkNoise(8, 0.1, signal), signal));
    const double before = fixtures::integratedLoudness(input);
    const QString result = process(input, presetId, QString("pink-%1-out.wav").arg(presetId));
    QVERIFY(!result.isEmpty());
    const double after = fixtures::integratedLoudness(result);
    QVERIFY2(std::fabs(after - target) < 0.5, qPrintable(QString("before %1, after %2").arg(before).arg(after)));
    QCOMPARE(formatOf(result).frames, formatOf(input).frames);
}

void TestServiceProcessing::speechPresetRemovesRumble()
{
    const fixtures::Signal signal;
    const QString input = dir_.filePath("rumble.wav");
    QVERIFY(fixtures::writeWav(input, mixed(fixtures::sine(4, 30, 0.3, signal), fixtures::sine(4, 1000, 0.1, signal)), signal));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    auto rumbleToToneDb = [&](const QString& path) {
        fixtures::readAudio(path, samples, rate, channels);
        return 20 * std::log10(toneAmplitude(samples, channels, rate, 30) / toneAmplitude(samples, channels, rate, 1000));
    };
    const double original = rumbleToToneDb(input);
    const QString speech = process(input, 1, "rumble-speech.wav");
    const QString music = process(input, 2, "rumble-music.wav");
    QVERIFY(!speech.isEmpty() && !music.isEmpty());
    // A second-order 80 Hz high-pass takes about 17 dB off 30 Hz and leaves 1 kHz alone.
    QVERIFY2(rumbleToToneDb(speech) < original - 12, qPrintable(QString::number(rumbleToToneDb(speech) - original)));
    QVERIFY(std::fabs(rumbleToToneDb(music) - original) < 0.5);
}

void TestServiceProcessing::gainStopsBelowThePeakCeiling()
{
    // Quiet noise with one loud click: reaching -14 LUFS would clip the click.
    const fixtures::Signal signal;
    std::vector<float> samples = fixtures::whiteNoise(6, 0.01, signal);
    for (int c = 0; c < signal.channels; ++c)
        samples[size_t(48000 * signal.channels + c)] = 0.5f;
    const QString input = dir_.filePath("click.wav");
    QVERIFY(fixtures::writeWav(input, samples, signal));
    const QString result = process(input, 2, "click-out.wav");
    QVERIFY(!result.isEmpty());
    std::vector<float> out;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(result, out, rate, channels));
    const double peakDb = 20 * std::log10(fixtures::peak(out));
    QVERIFY2(peakDb <= -0.95 && peakDb > -1.2, qPrintable(QString::number(peakDb)));
    QVERIFY(fixtures::integratedLoudness(result) < -14.5);
}

void TestServiceProcessing::silenceStaysSilent()
{
    const fixtures::Signal signal;
    const QString input = dir_.filePath("silence.wav");
    std::vector<float> hiss = fixtures::whiteNoise(3, 0.00003, signal);   // about -90 dBFS
    QVERIFY(fixtures::writeWav(input, hiss, signal));
    const QString result = process(input, 1, "silence-out.wav");
    QVERIFY(!result.isEmpty());
    std::vector<float> out;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(result, out, rate, channels));
    QVERIFY2(fixtures::peak(out) < 0.001, qPrintable(QString::number(fixtures::peak(out))));
}

void TestServiceProcessing::resultKeepsTheSourceResolution_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("subtype");
    QTest::addColumn<int>("presetId");
    QTest::newRow("16-bit speech") << int(fixtures::SampleFormat::Pcm16) << int(SF_FORMAT_PCM_16) << 1;
    QTest::newRow("24-bit music") << int(fixtures::SampleFormat::Pcm24) << int(SF_FORMAT_PCM_24) << 2;
    QTest::newRow("float speech") << int(fixtures::SampleFormat::Float32) << int(SF_FORMAT_FLOAT) << 1;
    QTest::newRow("24-bit passthrough") << int(fixtures::SampleFormat::Pcm24) << int(SF_FORMAT_PCM_24) << 4;
}

void TestServiceProcessing::resultKeepsTheSourceResolution()
{
    QFETCH(int, format);
    QFETCH(int, subtype);
    QFETCH(int, presetId);
    fixtures::Signal signal;
    signal.format = fixtures::SampleFormat(format);
    signal.sampleRate = 44100;
    signal.channels = 1;
    const QString input = dir_.filePath(QString("res-%1-%2.wav").arg(format).arg(presetId));
    QVERIFY(fixtures::writeSine(input, 2, 500, 0.25, signal));
    const QString result = process(input, presetId, QString("res-%1-%2-out.wav").arg(format).arg(presetId));
    QVERIFY(!result.isEmpty());
    const FileFormat out = formatOf(result);
    QCOMPARE(out.subtype, subtype);
    QCOMPARE(out.rate, 44100);
    QCOMPARE(out.channels, 1);
    QCOMPARE(out.frames, sf_count_t(88200));
}

void TestServiceProcessing::compressedUploadComesBackAsWav()
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg is needed to make an MP3");
    const QString wav = dir_.filePath("for-mp3.wav");
    QVERIFY(fixtures::writeSine(wav, 3, 440, 0.5, fixtures::Signal{}));
    const QString mp3 = dir_.filePath("upload.mp3");
    QProcess encode;
    encode.start(ffmpeg, {"-v", "error", "-y", "-i", wav, "-b:a", "128k", mp3});
    QVERIFY(encode.waitForFinished(30000) && encode.exitCode() == 0);
    const QString result = process(mp3, 4, "mp3-out.wav");
    QVERIFY(!result.isEmpty());
    const FileFormat out = formatOf(result);
    QFile header(result);
    QVERIFY(header.open(QIODevice::ReadOnly));
    QCOMPARE(header.read(4), QByteArray("RIFF"));
    QCOMPARE(out.subtype, SF_FORMAT_PCM_16);
    QVERIFY(std::fabs(double(out.frames) / out.rate - 3.0) < 0.1);
}

QTEST_GUILESS_MAIN(TestServiceProcessing)
#include "tst_serviceprocessing.moc"
