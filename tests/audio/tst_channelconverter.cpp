#include "audio/channelconverter.h"
#include "audio/audiolibrary.h"
#include "audiofixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestChannelConverter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    static bool read(const QString& file, std::vector<float>& samples, int& channels)
    {
        int rate = 0;
        return fixtures::readAudio(file, samples, rate, channels);
    }

    static audiolib::StreamInfo infoOf(const QString& file)
    {
        audiolib::DecodeStream stream;
        audiolib::StreamInfo info;
        stream.open(file.toUtf8(), audiolib::DecodeStream::Samples::Native);
        stream.info(info);
        return info;
    }

private slots:
    void monoBecomesTwoIdenticalChannels_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("floatOutput");
        QTest::newRow("16-bit") << int(fixtures::SampleFormat::Pcm16) << false;
        QTest::newRow("float") << int(fixtures::SampleFormat::Float32) << true;
    }

    void monoBecomesTwoIdenticalChannels()
    {
        QFETCH(int, format);
        QFETCH(bool, floatOutput);
        const fixtures::Signal sig{44100, 1, fixtures::SampleFormat(format)};
        QVERIFY(fixtures::writeNoise(path("mono.wav"), 1.37, 0.5, sig));
        ChannelConverter converter;
        converter.mode = ChannelConverter::MonoToStereo;
        converter.inputFile = path("mono.wav").toUtf8();
        converter.outputFile = path("stereo.wav").toUtf8();
        QVERIFY(converter.convert(true));
        QCOMPARE(converter.result(), int(ChannelConverter::Converted));
        QVERIFY(converter.isIdle());
        std::vector<float> in, out;
        int inChannels = 0, outChannels = 0;
        QVERIFY(read(path("mono.wav"), in, inChannels));
        QVERIFY(read(path("stereo.wav"), out, outChannels));
        QCOMPARE(outChannels, 2);
        QCOMPARE(out.size(), in.size() * 2);
        for (size_t i = 0; i < in.size(); ++i) {
            QCOMPARE(out[2 * i], out[2 * i + 1]);
            QVERIFY(std::fabs(out[2 * i] - in[i]) <= 1.0f / 32768);
        }
        QCOMPARE(infoOf(path("stereo.wav")).sourceIsFloat, floatOutput);
        QVERIFY(!converter.convert(true));   // one conversion per object
    }

    void stereoBecomesItsLeftChannel()
    {
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("st.wav"), 0.9, 0.5, sig));
        ChannelConverter converter;
        converter.mode = ChannelConverter::StereoToMono;
        converter.inputFile = path("st.wav").toUtf8();
        converter.outputFile = path("left.wav").toUtf8();
        QVERIFY(converter.convert(false));
        QTRY_VERIFY_WITH_TIMEOUT(converter.result() == ChannelConverter::Converted, 10000);
        std::vector<float> in, out;
        int channels = 0;
        QVERIFY(read(path("st.wav"), in, channels));
        QVERIFY(read(path("left.wav"), out, channels));
        QCOMPARE(channels, 1);
        QCOMPARE(out.size() * 2, in.size());
        for (size_t i = 0; i < out.size(); ++i)
            QCOMPARE(out[i], in[2 * i]);
    }

    void nothingToConvertAndRefusals()
    {
        const fixtures::Signal stereo{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("two.wav"), 0.2, 0.5, stereo));
        const fixtures::Signal six{48000, 6, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("six.wav"), 0.2, 0.5, six));
        struct Case {
            const char* input;
            int mode;
            bool returns;
            int result;
        };
        const Case cases[] = {
            {"two.wav", ChannelConverter::MonoToStereo, true, ChannelConverter::NothingConverted},
            {"six.wav", ChannelConverter::MonoToStereo, true, ChannelConverter::NothingConverted},
            {"six.wav", ChannelConverter::StereoToMono, false, ChannelConverter::NothingConverted},
            {"missing.wav", ChannelConverter::StereoToMono, false, ChannelConverter::Failed},
        };
        for (const Case& c : cases) {
            ChannelConverter converter;
            converter.mode = c.mode;
            converter.inputFile = path(c.input).toUtf8();
            converter.outputFile = path("never.wav").toUtf8();
            QCOMPARE(converter.convert(true), c.returns);
            QCOMPARE(converter.result(), c.result);
            QVERIFY(!QFile::exists(path("never.wav")));
        }
    }

    void unwritableOutputFails()
    {
        const fixtures::Signal mono{44100, 1, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("m.wav"), 0.2, 0.5, mono));
        ChannelConverter converter;
        converter.inputFile = path("m.wav").toUtf8();
        converter.outputFile = path("no/such/folder/out.wav").toUtf8();
        QVERIFY(!converter.convert(true));
        QCOMPARE(converter.result(), int(ChannelConverter::Failed));
    }

    void destroyingDuringAnAsynchronousRunJoins()
    {
        const fixtures::Signal mono{48000, 1, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("long.wav"), 30.0, 0.5, mono));
        {
            ChannelConverter converter;
            converter.inputFile = path("long.wav").toUtf8();
            converter.outputFile = path("long-stereo.wav").toUtf8();
            QVERIFY(converter.convert(false));
        }
        // A stopped conversion is not a result: the output is either complete
        // (the loop won the race) or gone, never half-written.
        std::vector<float> samples;
        int channels = 0;
        const bool exists = QFile::exists(path("long-stereo.wav"));
        QVERIFY(!exists || (read(path("long-stereo.wav"), samples, channels) && samples.size() == size_t(30 * 48000 * 2)));
    }
};

QTEST_GUILESS_MAIN(TestChannelConverter)
#include "tst_channelconverter.moc"
