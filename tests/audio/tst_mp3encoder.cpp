#include "audiofixtures.h"

#include "audio/audiolibrary.h"
#include "audio/mp3encoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Bit rates (kbit/s) of every MPEG-1 Layer III frame in the file, in order,
// walking from frame header to frame header.
QList<int> frameBitRates(const QString& path)
{
    static const int kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    QList<int> result;
    qsizetype at = 0;
    while (at + 4 <= data.size()) {
        const auto b = [&](int i) { return quint8(data[at + i]); };
        if (b(0) != 0xFF || (b(1) & 0xFE) != 0xFA)   // sync, MPEG-1, Layer III
            return {};
        const int bitRate = kbps[b(2) >> 4];
        const int rate = rates[(b(2) >> 2) & 3];
        if (bitRate == 0 || rate == 0)
            return {};
        result << bitRate;
        at += 144 * bitRate * 1000 / rate + ((b(2) >> 1) & 1);
    }
    return result;
}

// The delete-request list of a test, handed to encoders as the main window
// hands its own.
struct DeleteRequests {
    QMutex lock;
    QStringList paths;

    void attach(mp3Encoder& encoder, bool deleteInput)
    {
        encoder.deleteRequests = &paths;
        encoder.deleteRequestsLock = &lock;
        encoder.deleteInputWhenDone = deleteInput;
    }
};

} // namespace

// The MP3 encoding job on real files: settings, states and their texts, the
// encoded file (length, bit rate, level), the temporary name, failures, the
// delete request and several encoders at once.
class TestMp3Encoder : public QObject {
    Q_OBJECT

private slots:
    void init();
    void settingsAcceptOnlyTheListedBitRates();
    void encodesToTheAskedBitRateAndLength();
    void startsOnceAndRequestsDeletionOnce();
    void encodingsThatCannotStartSayWhy();
    void encodersOfOneNameKeepBothOutputs();
    void sourceEndingEarlyGivesWhatWasRead();
    void cancelAndDestructionStopTheWorker();
    void severalEncodersRunAtOnce();

private:
    QString sine(const QString& name, double seconds, int channels = 2);
    static bool waitFinished(const mp3Encoder& encoder);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestMp3Encoder::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestMp3Encoder::sine(const QString& name, double seconds, int channels)
{
    fixtures::Signal signal;
    signal.channels = channels;
    const QString path = dir->filePath(name);
    return fixtures::writeSine(path, seconds, 1000.0, 0.5, signal) ? path : QString();
}

bool TestMp3Encoder::waitFinished(const mp3Encoder& encoder)
{
    return QTest::qWaitFor([&] { return encoder.isFinished(); }, 60000);
}

void TestMp3Encoder::settingsAcceptOnlyTheListedBitRates()
{
    mp3Encoder encoder;
    QCOMPARE(encoder.settings(), QStringLiteral("-b128"));
    encoder.setSettings(QStringLiteral("-b112"));
    QCOMPARE(encoder.settings(), QStringLiteral("-b128"));
    encoder.setSettings(QStringLiteral("-b32"));
    QCOMPARE(encoder.settings(), QStringLiteral("-b32"));
    for (const char* refused : {"-b 192", "b192", "-b192 ", "-b0320", "-b", "-B192", "-b1920"}) {
        encoder.setSettings(QString::fromLatin1(refused));
        QCOMPARE(encoder.settings(), QStringLiteral("-b32"));
    }
    for (const char* rate : {"32", "64", "96", "128", "160", "192", "224", "256", "320"}) {
        encoder.setSettings(QStringLiteral("-b") + QLatin1String(rate));
        QCOMPARE(encoder.settings(), QStringLiteral("-b") + QLatin1String(rate));
    }
}

void TestMp3Encoder::encodesToTheAskedBitRateAndLength()
{
    const QString source = sine(QStringLiteral("song.wav"), 5.0);
    const QString output = dir->filePath(QStringLiteral("song.mp3"));
    mp3Encoder encoder;
    encoder.setInputFile(source);
    encoder.setOutputFile(output);
    QCOMPARE(encoder.inputFile(), QDir::toNativeSeparators(source));
    QCOMPARE(encoder.outputFile(), QDir::toNativeSeparators(output));
    QCOMPARE(encoder.statusText(), QStringLiteral("MP3: song.mp3: Waiting"));
    encoder.setSettings(QStringLiteral("-b192"));
    QVERIFY(encoder.isFinished());
    QVERIFY(encoder.start());
    QVERIFY(waitFinished(encoder));
    QVERIFY(encoder.succeeded());
    QCOMPARE(encoder.statusText(), QStringLiteral("MP3: song.mp3: Finished"));
    QVERIFY(!QFileInfo::exists(mp3Encoder::partialFileName(output)));

    // Every frame but the leading Info frame at the asked rate.
    const QList<int> rates = frameBitRates(output);
    QVERIFY(rates.size() > 100);
    QCOMPARE(rates.count(192), rates.size());

    std::vector<float> decoded, original;
    int rate = 0, channels = 0;
    QVERIFY(fixtures::readAudio(output, decoded, rate, channels));
    QCOMPARE(rate, 48000);
    QCOMPARE(channels, 2);
    const qint64 frames = qint64(decoded.size()) / 2;
    QVERIFY2(std::abs(frames - 5 * 48000) <= 1152, qPrintable(QString::number(frames)));
    QVERIFY(fixtures::readAudio(source, original, rate, channels));
    // The encoder itself takes about 0.3 dB off this tone (lame -b 192 does the same).
    QVERIFY2(std::abs(fixtures::rmsDb(decoded) - fixtures::rmsDb(original)) < 0.5,
             qPrintable(QString("%1 vs %2").arg(fixtures::rmsDb(decoded)).arg(fixtures::rmsDb(original))));
}

void TestMp3Encoder::startsOnceAndRequestsDeletionOnce()
{
    const QString source = sine(QStringLiteral("take.wav"), 1.0);
    DeleteRequests requests;
    mp3Encoder encoder;
    requests.attach(encoder, true);
    encoder.pendingEncodings = std::make_shared<std::atomic<int>>(1);
    encoder.setInputFile(source);
    encoder.setOutputFile(dir->filePath(QStringLiteral("take.mp3")));
    QVERIFY(encoder.start());
    QVERIFY(!encoder.start());
    QVERIFY(waitFinished(encoder));
    QCOMPARE(encoder.pendingEncodings->load(), 0);
    QVERIFY(!encoder.start());
    QCOMPARE(requests.paths, QStringList{QDir::toNativeSeparators(source)});
    QVERIFY(QFileInfo::exists(source));

    // Without the flag nothing is requested.
    mp3Encoder keeper;
    requests.attach(keeper, false);
    keeper.setInputFile(source);
    keeper.setOutputFile(dir->filePath(QStringLiteral("take2.mp3")));
    QVERIFY(keeper.start());
    QVERIFY(waitFinished(keeper));
    QCOMPARE(requests.paths.size(), 1);
}

void TestMp3Encoder::encodingsThatCannotStartSayWhy()
{
    const QString corrupt = dir->filePath(QStringLiteral("corrupt.wav"));
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    fixtures::Signal surround;
    surround.channels = 6;   // opens as audio, but an MP3 holds at most two channels
    const QString sixChannels = dir->filePath(QStringLiteral("surround.wav"));
    QVERIFY(fixtures::writeSine(sixChannels, 0.5, 440.0, 0.5, surround));
    fixtures::Signal narrow;
    narrow.sampleRate = 8000;   // LAME offers at most 64 kbit/s for 8 kHz mono
    narrow.channels = 1;
    const QString telephone = dir->filePath(QStringLiteral("phone.wav"));
    QVERIFY(fixtures::writeSine(telephone, 0.5, 440.0, 0.5, narrow));
    const QString good = sine(QStringLiteral("a.wav"), 0.5);
    QDir(dir->path()).mkdir(QStringLiteral("locked"));
    const QString locked = dir->filePath(QStringLiteral("locked"));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    QList<QPair<QString, QString>> cases = {
        {dir->filePath(QStringLiteral("missing.wav")), dir->filePath(QStringLiteral("out.mp3"))},
        {corrupt, dir->filePath(QStringLiteral("out.mp3"))},
        {sixChannels, dir->filePath(QStringLiteral("out.mp3"))},
        {telephone, dir->filePath(QStringLiteral("out.mp3"))},
        {good, dir->filePath(QStringLiteral("no/such/folder/out.mp3"))},
    };
    // A read-only folder (except for a superuser, who writes anywhere).
    if (!QFileInfo(locked).isWritable())
        cases.append({good, locked + QStringLiteral("/out.mp3")});
    for (const auto& [source, output] : cases) {
        DeleteRequests requests;
        mp3Encoder encoder;
        requests.attach(encoder, true);
        encoder.setInputFile(source);
        encoder.setOutputFile(output);
        if (source == telephone)
            encoder.setSettings(QStringLiteral("-b160"));
        QVERIFY(encoder.start());
        QVERIFY(waitFinished(encoder));
        QVERIFY2(encoder.statusText().startsWith(QStringLiteral("MP3: out.mp3: Failed: ")), qPrintable(source));
        QVERIFY(encoder.failed());
        QVERIFY(!encoder.start());
        QVERIFY(requests.paths.isEmpty());
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files),
             (QStringList{QStringLiteral("a.wav"), QStringLiteral("corrupt.wav"), QStringLiteral("phone.wav"),
                          QStringLiteral("surround.wav")}));
    QVERIFY(QDir(locked).isEmpty());
}

void TestMp3Encoder::encodersOfOneNameKeepBothOutputs()
{
    // song.wav and song.flac (here: two sources) would both become song.mp3.
    const QString output = dir->filePath(QStringLiteral("song.mp3"));
    mp3Encoder first;
    first.setInputFile(sine(QStringLiteral("song.wav"), 1.0));
    first.setOutputFile(output);
    mp3Encoder second;
    second.setInputFile(sine(QStringLiteral("other.wav"), 2.0));
    second.setOutputFile(output);
    QCOMPARE(first.outputFile(), QDir::toNativeSeparators(output));
    QCOMPARE(second.outputFile(), QDir::toNativeSeparators(dir->filePath(QStringLiteral("song (1).mp3"))));
    QVERIFY(first.start());
    QVERIFY(second.start());
    QVERIFY(waitFinished(first));
    QVERIFY(waitFinished(second));
    QVERIFY(first.succeeded());
    QVERIFY(second.succeeded());
    QVERIFY(frameBitRates(first.outputFile()).size() < frameBitRates(second.outputFile()).size());

    // A finished encoder still listed keeps its name; a later one gets the next free name.
    mp3Encoder third;
    third.setOutputFile(output);
    QCOMPARE(third.outputFile(), QDir::toNativeSeparators(dir->filePath(QStringLiteral("song (2).mp3"))));
}

void TestMp3Encoder::sourceEndingEarlyGivesWhatWasRead()
{
    // A source that ends early still gives an MP3 of what could be read.
    const QString truncated = dir->filePath(QStringLiteral("short.wav"));
    QVERIFY(fixtures::writeTruncatedWav(truncated, fixtures::Signal()));
    mp3Encoder partial;
    partial.setInputFile(truncated);
    partial.setOutputFile(dir->filePath(QStringLiteral("short.mp3")));
    QVERIFY(partial.start());
    QVERIFY(waitFinished(partial));
    QVERIFY2(partial.statusText() == QStringLiteral("MP3: short.mp3: Finished")
                 || partial.statusText().startsWith(QStringLiteral("MP3: short.mp3: Failed: ")),
             qPrintable(partial.statusText()));
    QVERIFY(!QFileInfo::exists(mp3Encoder::partialFileName(partial.outputFile())));
    QCOMPARE(QFileInfo::exists(partial.outputFile()), partial.succeeded());
}

void TestMp3Encoder::cancelAndDestructionStopTheWorker()
{
    const QString source = sine(QStringLiteral("long.wav"), 120.0);
    const QString output = dir->filePath(QStringLiteral("long.mp3"));
    DeleteRequests requests;
    auto encoder = std::make_unique<mp3Encoder>();
    requests.attach(*encoder, true);
    // A cancelled encoding is still to be made: it is not counted down.
    const auto pending = std::make_shared<std::atomic<int>>(1);
    encoder->pendingEncodings = pending;
    encoder->setInputFile(source);
    encoder->setOutputFile(output);
    QVERIFY(encoder->start());
    QVERIFY(QTest::qWaitFor([&] { return encoder->progress() > 0.0f; }, 10000));
    QVERIFY(encoder->statusText().contains(QRegularExpression(QStringLiteral("^MP3: long.mp3: Encoding: 0\\.\\d\\d$"))));
    QVERIFY(encoder->cancel());
    QVERIFY(encoder->isFinished());
    QCOMPARE(encoder->statusText(), QStringLiteral("MP3: long.mp3: Cancelled"));
    QCOMPARE(pending->load(), 1);
    QVERIFY(!encoder->cancel());
    QVERIFY(requests.paths.isEmpty());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("long.wav")});

    encoder = std::make_unique<mp3Encoder>();
    encoder->setInputFile(source);
    encoder->setOutputFile(output);
    QVERIFY(encoder->start());
    encoder.reset();
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("long.wav")});
}

void TestMp3Encoder::severalEncodersRunAtOnce()
{
    std::vector<std::unique_ptr<mp3Encoder>> encoders;
    for (int i = 0; i < 3; ++i) {
        auto encoder = std::make_unique<mp3Encoder>();
        encoder->setInputFile(sine(QStringLiteral("in%1.wav").arg(i), 2.0, 1 + i % 2));
        encoder->setOutputFile(dir->filePath(QStringLiteral("in%1.mp3").arg(i)));
        encoder->setSettings(QStringLiteral("-b96"));
        QVERIFY(encoder->start());
        encoders.push_back(std::move(encoder));
    }
    for (const auto& encoder : encoders) {
        QVERIFY(waitFinished(*encoder));
        QVERIFY(encoder->succeeded());
        const QList<int> rates = frameBitRates(encoder->outputFile());
        QVERIFY(!rates.isEmpty());
        QCOMPARE(rates.count(96), rates.size());
    }
}

QTEST_GUILESS_MAIN(TestMp3Encoder)
#include "tst_mp3encoder.moc"
