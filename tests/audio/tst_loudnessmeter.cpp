#include "audio/audiolibrary.h"
#include "audio/iirfilter.h"
#include "audio/loudnessmeter.h"
#include "audiofixtures.h"
#include "brokenaudio.h"

#include <QTemporaryDir>
#include <QtTest>

#include <ebur128.h>
#include <sndfile.h>

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>

namespace {

// Magnitude response in dB of a designed section at frequency f.
double responseDb(const IIRFilter& f, double frequency)
{
    const std::complex<double> z = std::polar(1.0, 2 * M_PI * frequency / f.sampleRate());
    const std::complex<double> zi = 1.0 / z, zi2 = zi * zi;
    const auto h = (f.b0() + f.b1() * zi + f.b2() * zi2) / (1.0 + f.a1() * zi + f.a2() * zi2);
    return 20 * std::log10(std::abs(h));
}

// Bursts of pink noise of changing length and level with pauses between
// them, like speech: the gates have real work to do.
std::vector<float> speechLike(double seconds, const fixtures::Signal& sig)
{
    const auto noise = fixtures::pinkNoise(seconds, 0.6, sig, 7);
    std::vector<float> out(noise.size(), 0.0f);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> burst(0.15, 1.2), pause(0.05, 0.8), level(0.05, 1.0);
    const qint64 frames = qint64(noise.size()) / sig.channels;
    qint64 at = 0;
    while (at < frames) {
        const qint64 on = std::min<qint64>(frames, at + qint64(burst(rng) * sig.sampleRate));
        const double gain = level(rng);
        for (qint64 i = at; i < on; ++i)
            for (int c = 0; c < sig.channels; ++c)
                out[size_t(i * sig.channels + c)] = float(noise[size_t(i * sig.channels + c)] * gain);
        at = on + qint64(pause(rng) * sig.sampleRate);
    }
    return out;
}

double referenceLoudness(const QString& path, bool fiveChannelSurround = false)
{
    std::vector<float> samples;
    int rate = 0, channels = 0;
    if (!fixtures::readAudio(path, samples, rate, channels))
        return NAN;
    ebur128_state* st = ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_I);
    if (fiveChannelSurround) {
        ebur128_set_channel(st, 3, EBUR128_LEFT_SURROUND);
        ebur128_set_channel(st, 4, EBUR128_RIGHT_SURROUND);
    }
    ebur128_add_frames_float(st, samples.data(), samples.size() / size_t(channels));
    double lufs = 0;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

struct Result {
    bool isMeasured;
    double lufs, dbRms;
    qint64 frames, blocks;
};

Result measured(const QString& path)
{
    LoudnessMeter meter(path.toUtf8(), "K-weighting", 0.4f);
    meter.measure();
    return {meter.isMeasured(), meter.lufs(), meter.dbRms(), meter.frames(), meter.blockCount()};
}

template <typename E>
QString thrownText(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

// Writes `silent` seconds of 16-bit stereo silence followed by `tone`
// seconds of a 1 kHz sine at half scale. The silence is skipped with a seek,
// so on file systems with holes a very long file costs almost no disk.
bool writeSilenceThenTone(const QString& path, double silent, double tone)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t skip = sf_count_t(silent * info.samplerate);
    const short zero[2] = {0, 0};
    bool ok = sf_writef_short(f, zero, 1) == 1 && sf_seek(f, skip, SEEK_SET | SFM_WRITE) == skip;
    const sf_count_t frames = sf_count_t(tone * info.samplerate);
    std::vector<short> block(size_t(2 * frames));
    for (sf_count_t i = 0; i < frames; ++i)
        block[size_t(2 * i)] = block[size_t(2 * i + 1)] = short(std::lrint(16384 * std::sin(2 * M_PI * 1000.0 * double(i) / 48000)));
    ok = ok && sf_writef_short(f, block.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

} // namespace

class TestLoudnessMeter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    // The textbook shelf and high-pass of the class "Fenton/Lee 2" (the
    // K-weighting's former design, 0.04 dB under the standard's).
    void cookbookCoefficientsMatchHandComputedValues()
    {
        const auto chain = LoudnessMeter::filterChain("Fenton/Lee 2", 48000);
        QCOMPARE(int(chain.size()), 2);
        const IIRFilter& shelf = chain[0];
        QCOMPARE(shelf.filterType(), QByteArray("high_shelf"));
        QVERIFY(qFuzzyCompare(shelf.b0(), 1.5351828863637502));
        QVERIFY(qFuzzyCompare(shelf.b1(), -2.691804030199196));
        QVERIFY(qFuzzyCompare(shelf.b2(), 1.198426263333146));
        QVERIFY(qFuzzyCompare(shelf.a0(), 2.314539374270022));
        QVERIFY(qFuzzyCompare(shelf.a1(), -1.6906995865986896));
        QVERIFY(qFuzzyCompare(shelf.a2(), 0.7325047060963897));
        const IIRFilter& highPass = chain[1];
        QVERIFY(qFuzzyCompare(highPass.b0(), 0.9950442970178917));
        QVERIFY(qFuzzyCompare(highPass.b1(), -1.9900885940357833));
        QVERIFY(qFuzzyCompare(highPass.a1(), -1.990076284018423));
        QVERIFY(qFuzzyCompare(highPass.a2(), 0.9901009040531438));
        // About +0.66 dB at 1 kHz through the whole chain.
        QVERIFY(std::fabs(responseDb(shelf, 1000) + responseDb(highPass, 1000) - 0.656) < 0.01);
    }

    void deManDesignGivesThePublishedCoefficients()
    {
        const auto chain = LoudnessMeter::filterChain("DeMan", 48000);
        QVERIFY(std::fabs(chain[0].b0() - 1.53512485958697) < 1e-9);
        QVERIFY(std::fabs(chain[0].b1() + 2.69169618940638) < 1e-9);
        QVERIFY(std::fabs(chain[0].b2() - 1.19839281085285) < 1e-9);
        QVERIFY(std::fabs(chain[0].a1() + 1.69065929318241) < 1e-9);
        QVERIFY(std::fabs(chain[0].a2() - 0.73248077421585) < 1e-9);
        QCOMPARE(chain[0].a0(), 1.0);
        QCOMPARE(chain[1].b1(), -2.0);
        QVERIFY(std::fabs(chain[1].a1() + 1.99004745483398) < 1e-9);
        QVERIFY(std::fabs(chain[1].a2() - 0.99007225036621) < 1e-9);
    }

    void everyFilterTypeHasTheExpectedResponse()
    {
        const IIRFilter peaking(-6.0, 1.5, 1000, 44100, "peaking", 1.0);
        QVERIFY(std::fabs(responseDb(peaking, 1000) + 6.0) < 1e-6);
        QVERIFY(std::fabs(responseDb(peaking, 20)) < 0.05);
        const IIRFilter lowShelf(6.0, 0.7071, 200, 48000, "low_shelf", 1.0);
        QVERIFY(std::fabs(responseDb(lowShelf, 10) - 6.0) < 0.05);
        QVERIFY(std::fabs(responseDb(lowShelf, 15000)) < 0.05);
        const IIRFilter lowPass(0.0, 0.7071, 1000, 48000, "low_pass", 1.0);
        QVERIFY(std::fabs(responseDb(lowPass, 1000) + 3.01) < 0.02);
        QVERIFY(responseDb(lowPass, 10000) < -35);
        for (const char* cls : {"Fenton/Lee 1", "Fenton/Lee 2", "Dash et al."})
            QVERIFY(!LoudnessMeter::filterChain(cls, 44100).empty());
        QCOMPARE(thrownText<std::invalid_argument>([] { IIRFilter(0, 1, 100, 48000, "notch", 1.0); }),
            QString("Invalid filter type: notch"));
    }

    void stateCarriesAcrossCalls()
    {
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Float32};
        auto whole = fixtures::whiteNoise(0.1, 0.5, sig);
        auto pieces = whole;
        IIRFilter a(4.0, 0.7071, 1500, 48000, "high_shelf", 0.5);
        IIRFilter b(4.0, 0.7071, 1500, 48000, "high_shelf", 0.5);
        a.apply(whole.data(), qint64(whole.size()), 2);
        b.apply(pieces.data(), 1002, 2);
        b.apply(pieces.data() + 1002, qint64(pieces.size()) - 1002, 2);
        QCOMPARE(pieces, whole);

        // A chain run at once gives what the filters give one after the
        // other (up to the float rounding between them that the fused mono
        // and stereo paths skip), and the squares it sums are those of its
        // output.
        for (int channels : {1, 2, 3}) {
            const fixtures::Signal s{44100, channels, fixtures::SampleFormat::Float32};
            auto sequential = fixtures::pinkNoise(0.3, 0.8, s);
            auto chained = sequential;
            auto one = LoudnessMeter::filterChain("K-weighting", 44100);
            auto two = LoudnessMeter::filterChain("K-weighting", 44100);
            std::vector<double> energy(size_t(channels), 0.0);
            for (int piece = 0; piece < 2; ++piece) {
                const qint64 half = qint64(sequential.size()) / 2 / channels * channels;
                const qint64 at = piece * half, count = piece ? qint64(sequential.size()) - half : half;
                for (IIRFilter& f : one)
                    f.apply(sequential.data() + at, count, channels);
                IIRFilter::applyChain(two, chained.data() + at, count, channels, energy.data());
            }
            double largest = 0;
            std::vector<double> squares(size_t(channels), 0.0);
            for (size_t i = 0; i < chained.size(); ++i) {
                largest = std::max(largest, double(std::fabs(chained[i] - sequential[i])));
                squares[i % size_t(channels)] += double(chained[i]) * double(chained[i]);
            }
            QVERIFY2(largest < 1e-6, qPrintable(QString::number(largest)));
            for (int c = 0; c < channels; ++c)
                QVERIFY(std::fabs(energy[size_t(c)] - squares[size_t(c)]) <= 1e-9 * squares[size_t(c)]);
            // Without the output kept, the same squares (of the unrounded
            // output) to single precision.
            auto three = LoudnessMeter::filterChain("K-weighting", 44100);
            std::vector<float> untouched = fixtures::pinkNoise(0.3, 0.8, s);
            std::vector<double> only(size_t(channels), 0.0);
            IIRFilter::applyChain(three, untouched.data(), qint64(untouched.size()), channels, only.data(), false);
            for (int c = 0; c < channels; ++c)
                QVERIFY(std::fabs(only[size_t(c)] - squares[size_t(c)]) <= 1e-5 * squares[size_t(c)]);
        }
    }

    void knownLoudnessValues()
    {
        QVERIFY(dir.isValid());
        const fixtures::Signal stereo{48000, 2, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeSine(path("sine2.wav"), 5.0, 1000.0, 1.0, stereo));
        const Result s = measured(path("sine2.wav"));
        QVERIFY(s.isMeasured);
        // The K-weighting adds 0.698 dB at 1 kHz, the offset takes 0.691.
        QVERIFY2(std::fabs(s.lufs - 0.007) < 0.01, qPrintable(QString::number(s.lufs)));
        QVERIFY(std::fabs(s.dbRms + 3.01) < 0.01);

        const fixtures::Signal mono{48000, 1, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeSine(path("sine1.wav"), 5.0, 1000.0, 1.0, mono));
        QVERIFY(std::fabs(measured(path("sine1.wav")).lufs + 3.003) < 0.01);

        const fixtures::Signal cd{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("long.wav"), 10.9, 440.0, 0.5, cd));
        const Result l = measured(path("long.wav"));
        QCOMPARE(l.frames, qint64(480690));
        QCOMPARE(l.blocks, qint64(106));

        QVERIFY(fixtures::writeSine(path("short.wav"), 0.3, 440.0, 0.5, cd));
        const Result sh = measured(path("short.wav"));
        QCOMPARE(sh.blocks, qint64(1));
        QVERIFY(std::isinf(sh.lufs) && sh.lufs < 0);
        QVERIFY(std::fabs(sh.dbRms + 9.03) < 0.01);

        QVERIFY(fixtures::writeWav(path("empty.wav"), {}, cd));
        const Result e = measured(path("empty.wav"));
        QVERIFY(e.isMeasured);
        QCOMPARE(e.lufs, -100.0);
        QCOMPARE(e.dbRms, -100.0);

        QVERIFY(fixtures::writeSilence(path("silence.wav"), 2.0, cd));
        const Result z = measured(path("silence.wav"));
        QVERIFY(std::isinf(z.lufs) && z.lufs < 0);
        QCOMPARE(z.dbRms, -160.0);
    }

    void matchesTheReferenceMeter_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        for (const char* kind : {"sine", "pink", "speech"})
            for (int rate : {44100, 48000})
                for (int channels : {1, 2})
                    QTest::addRow("%s %d %dch", kind, rate, channels) << QString(kind) << rate << channels;
        QTest::addRow("speech 48000 5ch") << "speech" << 48000 << 5;
        QTest::addRow("speech 48000 6ch") << "speech" << 48000 << 6;
    }

    void matchesTheReferenceMeter()
    {
        QFETCH(QString, kind);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const fixtures::Signal sig{rate, channels, fixtures::SampleFormat::Float32};
        std::vector<float> samples;
        if (kind == "sine")
            samples = fixtures::sine(7.3, 997.0, 0.3, sig);
        else if (kind == "pink")
            samples = fixtures::pinkNoise(9.1, 0.5, sig);
        else
            samples = speechLike(20.0, sig);
        if (channels >= 5)   // different levels per channel so that the weights matter
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] *= float(0.3 + 0.15 * double(i % size_t(channels)));
        const QString file = path("ref.wav");
        QVERIFY(fixtures::writeWav(file, samples, sig));
        const double ours = measured(file).lufs;
        const double reference = referenceLoudness(file, channels == 5);
        QVERIFY2(std::fabs(ours - reference) < 0.1, qPrintable(QString("%1 vs %2").arg(ours).arg(reference)));
    }

    void fileWhoseFloatDataPassTwoGigabytes()
    {
        // 5,700 s of stereo decode to 2.19 GB of floats, past the signed
        // 32-bit byte range; the figures must follow from the short twin
        // (same tone, same block positions, less silence in front).
        QVERIFY(writeSilenceThenTone(path("twin.wav"), 2.0, 10.0));
        QVERIFY(writeSilenceThenTone(path("huge.wav"), 5700.0, 10.0));
        const Result twin = measured(path("twin.wav"));
        const Result huge = measured(path("huge.wav"));
        QFile::remove(path("huge.wav"));
        QCOMPARE(huge.frames, qint64(5710) * 48000);
        QCOMPARE(huge.blocks, qint64(57097));
        QVERIFY2(std::fabs(huge.lufs - twin.lufs) < 0.01, qPrintable(QString("%1 vs %2").arg(huge.lufs).arg(twin.lufs)));
        const double expectedRms = twin.dbRms + 10 * std::log10(12.0 / 5710.0);
        QVERIFY2(std::fabs(huge.dbRms - expectedRms) < 0.01, qPrintable(QString("%1 vs %2").arg(huge.dbRms).arg(expectedRms)));
    }

    void streamsWithoutALengthAreMeasuredToTheirEnd()
    {
        // A quiet second, then a loud one: measuring only the start would
        // read far too low.
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Pcm16};
        std::vector<float> samples = fixtures::sine(1.0, 1000.0, 0.05, sig);
        const std::vector<float> loud = fixtures::sine(2.0, 1000.0, 1.0, sig);
        samples.insert(samples.end(), loud.begin(), loud.end());
        QVERIFY(fixtures::writeFlacWithoutLength(path("nolength.flac"), samples, sig));
        QVERIFY(fixtures::writeWav(path("withlength.wav"), samples, sig));
        const Result unknown = measured(path("nolength.flac"));
        const Result known = measured(path("withlength.wav"));
        QCOMPARE(unknown.frames, qint64(144000));
        QCOMPARE(unknown.blocks, known.blocks);
        QVERIFY2(std::fabs(unknown.lufs - known.lufs) < 0.01, qPrintable(QString("%1 vs %2").arg(unknown.lufs).arg(known.lufs)));
    }

    void nonFiniteSamplesCountAsSilence()
    {
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Float32};
        std::vector<float> samples = speechLike(4.0, sig);
        std::vector<float> poisoned = samples;
        for (size_t at : {size_t(10), size_t(44100 * 2 + 1), size_t(44100 * 6)}) {
            samples[at] = 0.0f;
            poisoned[at] = at % 2 ? INFINITY : NAN;
        }
        QVERIFY(fixtures::writeWav(path("clean.wav"), samples, sig));
        QVERIFY(fixtures::writeRawWav(path("poisoned.wav"), {3, 2, 44100, 32, true}, fixtures::floatBytes(poisoned)));
        LoudnessMeter meter(path("poisoned.wav").toUtf8(), "K-weighting", 0.4f);
        meter.measure();
        const Result clean = measured(path("clean.wav"));
        QCOMPARE(meter.nonFiniteSamples(), qint64(3));
        QVERIFY(std::isfinite(meter.lufs()) && std::isfinite(meter.dbRms()));
        QVERIFY(std::fabs(meter.lufs() - clean.lufs) < 1e-6);
        QVERIFY(std::fabs(meter.dbRms() - clean.dbRms) < 1e-6);
    }

    void sixteenBitFilesMeasureLikeTheirFloats()
    {
        // The meter reads 16-bit files as integers: every figure must be the
        // one of the same samples read as floats, to the last bit, full-scale
        // negative pairs and a length that is no multiple of 8 included.
        const fixtures::Signal sig{44100, 1, fixtures::SampleFormat::Float32};
        std::vector<float> samples = speechLike(8.0, sig);
        samples.resize(samples.size() - 3);
        std::fill(samples.begin() + 1000, samples.begin() + 1100, -1.0f);
        QByteArray pcm;
        for (const float v : samples) {
            const qint16 s = qint16(std::clamp(std::lround(v * 32768.0f), -32768L, 32767L));
            pcm.append(reinterpret_cast<const char*>(&s), 2);
        }
        QVERIFY(fixtures::writeRawWav(path("s16.wav"), {1, 1, 44100, 16}, pcm));
        auto run = [&](std::unique_ptr<LoudnessMeter> meter) {
            meter->collectReport(true);
            meter->measure();
            const LoudnessReport& r = meter->report();
            return std::vector<double>{meter->lufs(), meter->dbRms(), r.loudnessRange, r.maxMomentary,
                r.maxShortTerm, r.truePeak, r.samplePeak};
        };
        auto stream = std::make_unique<audiolib::DecodeStream>();
        QVERIFY(stream->open(path("s16.wav").toUtf8(), audiolib::DecodeStream::Samples::Float));
        const auto asFloats = run(std::make_unique<LoudnessMeter>(std::move(stream), "K-weighting", 0.4f));
        const auto asShorts = run(std::make_unique<LoudnessMeter>(path("s16.wav").toUtf8(), "K-weighting", 0.4f));
        QCOMPARE(asShorts, asFloats);
        QCOMPARE(asShorts[6], 0.0);
    }

    void failuresAreThrownWithTheirTexts()
    {
        QCOMPARE(thrownText<std::runtime_error>([&] { LoudnessMeter(path("none.wav").toUtf8(), "K-weighting", 0.4f); }),
            QString("Can't load file, error 2"));
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("any.wav"), 0.5, 440.0, 0.5, sig));
        QCOMPARE(thrownText<std::invalid_argument>([&] { LoudnessMeter(path("any.wav").toUtf8(), "k-weighting", 0.4f); }),
            QString("Invalid filter class: k-weighting"));
        QVERIFY(fixtures::writeCorruptFile(path("bad.wav")));
        QVERIFY(thrownText<std::runtime_error>([&] { LoudnessMeter(path("bad.wav").toUtf8(), "K-weighting", 0.4f); })
                    .startsWith("Can't load file, error "));
    }
};

QTEST_GUILESS_MAIN(TestLoudnessMeter)
#include "tst_loudnessmeter.moc"
