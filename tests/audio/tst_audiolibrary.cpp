#include "audio/audiolibrary.h"
#include "audiofixtures.h"
#include "brokenaudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <lame/lame.h>

#include <cmath>
#include <thread>

using namespace audiolib;

namespace {

QByteArray utf8(const QString& s)
{
    return s.toUtf8();
}

// Reads a whole stream in pulls of at most 20,000 bytes, as the callers do.
template <typename T>
std::vector<T> pullAll(DecodeStream& stream, qint64* pulls = nullptr)
{
    std::vector<T> out;
    std::vector<char> buffer(20000);
    qint64 got = 0;
    qint64 count = 0;
    while ((got = stream.read(buffer.data(), qint64(buffer.size()))) > 0) {
        const T* p = reinterpret_cast<const T*>(buffer.data());
        out.insert(out.end(), p, p + got / qint64(sizeof(T)));
        ++count;
    }
    if (pulls)
        *pulls = count;
    return out;
}

// Bit rate index of the first MPEG-1 layer III frame header in the file.
int firstFrameBitRate(const QByteArray& mp3)
{
    static const int rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    for (int i = 0; i + 3 < mp3.size(); ++i) {
        const auto b1 = quint8(mp3[i + 1]);
        if (quint8(mp3[i]) == 0xFF && (b1 & 0xFE) == 0xFA)   // sync, MPEG-1, layer III
            return rates[(quint8(mp3[i + 2]) >> 4) & 0x0F];
    }
    return -1;
}

} // namespace

class TestAudioLibrary : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(initialize());
        QVERIFY(isInitialized());
    }

    void cleanupTestCase()
    {
        release();
    }

    void floatAndNativeReadsDeliverTheSourceSamples()
    {
        const fixtures::Signal pcm16{44100, 2, fixtures::SampleFormat::Pcm16};
        const auto samples = fixtures::sine(0.5, 440.0, 0.5, pcm16);
        QVERIFY(fixtures::writeWav(path("s16.wav"), samples, pcm16));

        DecodeStream asFloat;
        QVERIFY(asFloat.open(utf8(path("s16.wav")), DecodeStream::Samples::Float));
        StreamInfo info;
        QVERIFY(asFloat.info(info));
        QCOMPARE(info.sampleRate, 44100);
        QCOMPARE(info.channels, 2);
        QVERIFY(!info.sourceIsFloat);
        QCOMPARE(info.format, SampleFormat::Float32);
        const auto floats = pullAll<float>(asFloat);
        QCOMPARE(floats.size(), samples.size());
        for (size_t i = 0; i < samples.size(); i += 97)
            QVERIFY(std::fabs(floats[i] - samples[i]) < 1.0f / 32768);

        DecodeStream native;
        QVERIFY(native.open(utf8(path("s16.wav")), DecodeStream::Samples::Native));
        QVERIFY(native.info(info));
        QCOMPARE(info.format, SampleFormat::Int16);
        const auto shorts = pullAll<qint16>(native);
        QCOMPARE(shorts.size(), samples.size());
        for (size_t i = 0; i < samples.size(); i += 97)
            QCOMPARE(float(shorts[i]) / 32768.0f, floats[i]);
        DecodeStream compact;
        QVERIFY(compact.open(utf8(path("s16.wav")), DecodeStream::Samples::FloatOrInt16));
        QVERIFY(compact.info(info));
        QCOMPARE(info.format, SampleFormat::Int16);
        QVERIFY(pullAll<qint16>(compact) == shorts);

        const fixtures::Signal f32{48000, 1, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeWav(path("f32.wav"), fixtures::sine(0.2, 1000.0, 1.5, f32), f32));
        QVERIFY(native.open(utf8(path("f32.wav")), DecodeStream::Samples::Native));
        QVERIFY(native.info(info));
        QVERIFY(info.sourceIsFloat);
        QCOMPARE(info.format, SampleFormat::Float32);
        QVERIFY(fixtures::peak(pullAll<float>(native)) > 1.4);   // float keeps its headroom

        const fixtures::Signal pcm24{48000, 2, fixtures::SampleFormat::Pcm24};
        QVERIFY(fixtures::writeWav(path("s24.wav"), fixtures::sine(0.2, 1000.0, 0.5, pcm24), pcm24));
        QVERIFY(native.open(utf8(path("s24.wav")), DecodeStream::Samples::Native));
        QVERIFY(native.info(info));
        QCOMPARE(info.sourceBits, 24);
        QCOMPARE(info.format, SampleFormat::Int32);
        for (const char* wide : {"s24.wav", "f32.wav"}) {
            QVERIFY(compact.open(utf8(path(wide)), DecodeStream::Samples::FloatOrInt16));
            QVERIFY(compact.info(info));
            QCOMPARE(info.format, SampleFormat::Float32);
        }
    }

    void lengthsPositionsAndTheEndOfTheStream()
    {
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("len.wav"), 1.2345, 300.0, 0.3, sig));
        const qint64 frames = std::llround(1.2345 * 48000);
        DecodeStream stream;
        QVERIFY(stream.open(utf8(path("len.wav")), DecodeStream::Samples::Float, true));
        QCOMPARE(stream.lengthFrames(), frames);
        QCOMPARE(stream.lengthBytes(), frames * 2 * 4);
        QCOMPARE(stream.positionBytes(), qint64(0));
        std::vector<char> buffer(20000);
        QCOMPARE(stream.read(buffer.data(), 20000), qint64(20000));
        QCOMPARE(stream.positionBytes(), qint64(20000));
        QCOMPARE(stream.read(buffer.data(), 7), qint64(-1));    // less than one frame
        QCOMPARE(lastError(), ErrorCode::Parameter);
        QCOMPARE(stream.read(buffer.data(), 20004), qint64(20000));   // whole frames only
        qint64 total = 40000, got = 0;
        while ((got = stream.read(buffer.data(), 20000)) > 0)
            total += got;
        QCOMPARE(got, qint64(0));
        QCOMPARE(total, stream.lengthBytes());
        QCOMPARE(stream.positionBytes(), stream.lengthBytes());
        QCOMPARE(stream.read(buffer.data(), 20000), qint64(0));
        QCOMPARE(stream.read(nullptr, 20000), qint64(-1));

        DecodeStream native;
        QVERIFY(native.open(utf8(path("len.wav")), DecodeStream::Samples::Native));
        QCOMPARE(native.lengthBytes(), frames * 2 * 2);

        DecodeStream closed;
        QCOMPARE(closed.read(buffer.data(), 100), qint64(-1));
        QCOMPARE(lastError(), ErrorCode::NotOpen);
        StreamInfo info;
        QVERIFY(!closed.info(info));
    }

    void unknownLengthIsCountedByDecoding()
    {
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeFlacWithoutLength(path("nolength.flac"), fixtures::sine(2.5, 440.0, 0.5, sig), sig));
        DecodeStream stream;
        QVERIFY(stream.open(utf8(path("nolength.flac")), DecodeStream::Samples::Float));
        QCOMPARE(stream.lengthFrames(), qint64(120000));
        QCOMPARE(stream.lengthBytes(), qint64(120000) * 8);
        QCOMPARE(qint64(pullAll<float>(stream).size()), qint64(240000));

        // The same bytes from memory.
        QFile file(path("nolength.flac"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        DecodeStream memory;
        QVERIFY(memory.openBytes(file.readAll(), DecodeStream::Samples::Float));
        QCOMPARE(memory.lengthFrames(), qint64(120000));
        QCOMPARE(qint64(pullAll<float>(memory).size()), qint64(240000));
        QVERIFY(!memory.openBytes(QByteArray("RIFF"), DecodeStream::Samples::Float));
        QVERIFY(!memory.isOpen());
    }

    void badFilesReportStableCodes()
    {
        DecodeStream stream;
        QVERIFY(!stream.open(utf8(path("missing.wav")), DecodeStream::Samples::Float));
        QCOMPARE(lastErrorCode(), 2);
        QVERIFY(fixtures::writeCorruptFile(path("corrupt.wav")));
        QVERIFY(!stream.open(utf8(path("corrupt.wav")), DecodeStream::Samples::Float));
        QCOMPARE(lastErrorCode(), 3);

        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeTruncatedWav(path("truncated.wav"), sig));
        QVERIFY(stream.open(utf8(path("truncated.wav")), DecodeStream::Samples::Float));
        const auto samples = pullAll<float>(stream);
        QVERIFY(!samples.empty());
        std::vector<char> buffer(20000);
        QCOMPARE(stream.read(buffer.data(), 20000), qint64(0));

        // Readable files with broken headers and streams outside the limits
        // each say what is wrong.
        struct Case {
            const char* name;
            fixtures::RawWav header;
            ErrorCode expected;
        };
        const Case cases[] = {
            {"nochannels.wav", {1, 0, 48000, 16, true}, ErrorCode::Malformed},
            {"nodata.wav", {1, 1, 48000, 16, false}, ErrorCode::Malformed},
            {"slow.wav", {1, 1, 7999, 16, true}, ErrorCode::SampleRate},
            {"fast.wav", {1, 1, 768001, 16, true}, ErrorCode::SampleRate},
            {"huge-rate.wav", {1, 1, 2000000000, 16, true}, ErrorCode::SampleRate},
            {"wide.wav", {1, 65, 48000, 16, true}, ErrorCode::Channels},
        };
        for (const Case& c : cases) {
            QVERIFY(fixtures::writeRawWav(path(c.name), c.header, QByteArray(4160, '\0')));
            QVERIFY2(!stream.open(utf8(path(c.name)), DecodeStream::Samples::Float), c.name);
            QCOMPARE(lastError(), c.expected);
        }
        for (const fixtures::RawWav& edge : {fixtures::RawWav{1, 1, 8000, 16, true}, fixtures::RawWav{1, 64, 768000, 16, true}}) {
            QVERIFY(fixtures::writeRawWav(path("edge.wav"), edge, QByteArray(4096, '\0')));
            QVERIFY(stream.open(utf8(path("edge.wav")), DecodeStream::Samples::Float));
        }
        QCOMPARE(QString(errorText(ErrorCode::Malformed)), QString("malformed audio file"));

        // The error code belongs to the thread that failed.
        ErrorCode other = ErrorCode::Memory;
        std::thread([&] { other = lastError(); }).join();
        QCOMPARE(other, ErrorCode::Ok);
    }

    void wavWriterKeepsSixteenBitOrTheSourceFormat()
    {
        const fixtures::Signal f32{48000, 2, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeSine(path("src_f32.wav"), 0.5, 1000.0, 0.25, f32));
        const fixtures::Signal s24{44100, 1, fixtures::SampleFormat::Pcm24};
        QVERIFY(fixtures::writeSine(path("src_s24.wav"), 0.5, 1000.0, 0.25, s24));

        struct Case {
            QString source;
            DecodeStream::Samples samples;
            WavFormat format;
            bool isFloat;
            int bits;
        };
        const Case cases[] = {
            {"src_f32.wav", DecodeStream::Samples::Float, WavFormat::Pcm16, false, 16},
            {"src_f32.wav", DecodeStream::Samples::Float, WavFormat::SourceFormat, true, 32},
            {"src_s24.wav", DecodeStream::Samples::Native, WavFormat::SourceFormat, false, 24},
            {"src_s24.wav", DecodeStream::Samples::Native, WavFormat::Pcm16, false, 16},
        };
        int n = 0;
        for (const Case& c : cases) {
            const QString out = path(QString("out%1.wav").arg(n++));
            DecodeStream stream;
            QVERIFY(stream.open(utf8(path(c.source)), c.samples));
            QVERIFY(stream.startWavWriter(utf8(out), c.format));
            QCOMPARE(qint64(pullAll<char>(stream).size()), stream.lengthBytes());
            QVERIFY(stream.stopWriter());

            // Small output is a plain WAV: RIFF, then "fmt " right after
            // "WAVE" with format tag 1 (PCM) or 3 (float), no extensible form.
            QFile file(out);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray header = file.read(22);
            QCOMPARE(header.left(4), QByteArray("RIFF"));
            QCOMPARE(header.mid(8, 8), QByteArray("WAVEfmt "));
            QCOMPARE(int(quint8(header[20])), c.isFloat ? 3 : 1);

            DecodeStream check;
            QVERIFY(check.open(utf8(out), DecodeStream::Samples::Native));
            StreamInfo written;
            QVERIFY(check.info(written));
            QCOMPARE(written.sourceIsFloat, c.isFloat);
            QCOMPARE(written.sourceBits, c.bits);
            std::vector<float> original, copy;
            int rate = 0, channels = 0;
            QVERIFY(fixtures::readAudio(path(c.source), original, rate, channels));
            QVERIFY(fixtures::readAudio(out, copy, rate, channels));
            QCOMPARE(copy.size(), original.size());
            QVERIFY(std::fabs(fixtures::rmsDb(copy) - fixtures::rmsDb(original)) < 0.01);
        }
    }

    void volumeScalesEverySampleAndClipsIntegers()
    {
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("vol.wav"), 0.3, 500.0, 0.9, sig));
        DecodeStream plain;
        QVERIFY(plain.open(utf8(path("vol.wav")), DecodeStream::Samples::Native));
        const auto source = pullAll<qint16>(plain);

        DecodeStream half;
        QVERIFY(half.open(utf8(path("vol.wav")), DecodeStream::Samples::Native));
        half.setVolume(0.5f);
        const auto halved = pullAll<qint16>(half);
        QCOMPARE(halved.size(), source.size());
        for (size_t i = 0; i < source.size(); ++i)
            QCOMPARE(long(halved[i]), std::lrint(source[i] * 0.5));

        // Gain 3 pushes the 0.9 sine far past full scale: integer output must
        // saturate with the sign of the source, never wrap around.
        for (auto samples : {DecodeStream::Samples::Native, DecodeStream::Samples::Float}) {
            DecodeStream loud;
            QVERIFY(loud.open(utf8(path("vol.wav")), samples));
            loud.setVolume(3.0f);
            QVERIFY(loud.startWavWriter(utf8(path("loud.wav")), WavFormat::Pcm16));
            pullAll<char>(loud);
            QVERIFY(loud.stopWriter());
            DecodeStream back;
            QVERIFY(back.open(utf8(path("loud.wav")), DecodeStream::Samples::Native));
            const auto written = pullAll<qint16>(back);
            QCOMPARE(written.size(), source.size());
            int saturated = 0;
            for (size_t i = 0; i < source.size(); ++i) {
                if (source[i] > 0)
                    QVERIFY(written[i] >= 0);
                if (source[i] < 0)
                    QVERIFY(written[i] <= 0);
                if (std::abs(source[i]) > 11000)
                    QVERIFY(std::abs(written[i]) >= 32767);
                saturated += std::abs(written[i]) >= 32767;
            }
            QVERIFY(saturated > int(source.size()) / 3);
        }
    }

    void mp3WriterDecodesAtTheAskedBitRate_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("kbps");
        QTest::newRow("stereo 44.1k 192") << 44100 << 2 << 192;
        QTest::newRow("mono 48k 64") << 48000 << 1 << 64;
        QTest::newRow("stereo 48k 320") << 48000 << 2 << 320;
    }

    void mp3WriterDecodesAtTheAskedBitRate()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, kbps);
        const fixtures::Signal sig{rate, channels, fixtures::SampleFormat::Pcm16};
        const double seconds = 3.0;
        QVERIFY(fixtures::writeSine(path("tone.wav"), seconds, 1000.0, 0.5, sig));
        const QString out = path("tone.mp3");
        {
            QFile stale(out);   // an existing file is overwritten, not appended to
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write(QByteArray(2'000'000, 'x'));
        }
        DecodeStream stream;
        QVERIFY(stream.open(utf8(path("tone.wav")), DecodeStream::Samples::Native));
        QVERIFY(stream.startMp3Writer(utf8(out), "-b" + QByteArray::number(kbps)));
        pullAll<char>(stream);
        QVERIFY(stream.stopWriter());

        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(firstFrameBitRate(bytes), kbps);
        const double expected = kbps * 1000.0 / 8.0 * seconds;
        QVERIFY2(std::fabs(bytes.size() - expected) < expected * 0.08, qPrintable(QString::number(bytes.size())));

        DecodeStream decoded;
        QVERIFY(decoded.open(utf8(out), DecodeStream::Samples::Float, true));
        StreamInfo info;
        QVERIFY(decoded.info(info));
        QCOMPARE(info.sampleRate, rate);
        QCOMPARE(info.channels, channels);
        const qint64 frames = decoded.lengthFrames();
        QVERIFY2(std::llabs(frames - qint64(seconds * rate)) <= 1152, qPrintable(QString::number(frames)));
        const auto samples = pullAll<float>(decoded);
        QCOMPARE(qint64(samples.size()), frames * channels);
        const double level = fixtures::rmsDb(samples);
        // Low mono bit rates lose about half a dB of a pure tone in the encoder.
        QVERIFY2(std::fabs(level - 20 * std::log10(0.5 / std::sqrt(2.0))) < 0.6, qPrintable(QString::number(level)));
    }

    void mp3WriterRefusesBadOptions()
    {
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("opt.wav"), 0.1, 1000.0, 0.5, sig));
        DecodeStream stream;
        QVERIFY(stream.open(utf8(path("opt.wav")), DecodeStream::Samples::Float));
        for (const QByteArray& bad : {QByteArray("-b"), QByteArray("-x128"), QByteArray("-b128 -q0"), QByteArray("-b 12")}) {
            QVERIFY(!stream.startMp3Writer(utf8(path("bad.mp3")), bad));
            QCOMPARE(lastError(), ErrorCode::Parameter);
        }
        QVERIFY(!stream.startMp3Writer(utf8(path("bad.mp3")), "-b100"));   // not a layer III rate
        QCOMPARE(lastError(), ErrorCode::Encoder);
        QCOMPARE(Mp3Writer::bitRateFromOptions("-b256"), 256);
        QVERIFY(stream.startWavWriter(utf8(path("first.wav")), WavFormat::Pcm16));
        QVERIFY(!stream.startMp3Writer(utf8(path("second.mp3")), "-b128"));
        QCOMPARE(lastError(), ErrorCode::Busy);
    }

    void encoderVersionIsOneNumber()
    {
        lame_version_t v{};
        get_lame_version_numerical(&v);
        const quint32 version = mp3EncoderVersion();
        QCOMPARE(int(version >> 24), v.major);
        QCOMPARE(int((version >> 16) & 0xFF), v.minor);
        QCOMPARE(QString::number(version, 16).rightJustified(8, '0').size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestAudioLibrary)
#include "tst_audiolibrary.moc"
