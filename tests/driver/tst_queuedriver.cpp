#include "audiofixtures.h"

#include "driver/frontend.h"
#include "driver/localsteps.h"
#include "driver/queuedriver.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A front end that keeps what the driver tells a person.
class RecordingFrontEnd : public FrontEnd {
public:
    void notify(const QString& title, const QString& message) override { notes << title + message; }
    void reportRefusals(const QString& errors) override { refusals << errors; }
    NewFilesOffer* newFilesOffer() override { return nullptr; }
    bool queueVideoSounds(const QList<QUrl>&, const QList<QUrl>&) override { return false; }
    void showVideo(const videoFile&) override {}
    void showMp3Job(audioEncoderParent*) override {}
    void fileChanged(const QueueFile&, int) override {}
    void fileUploaded(const QueueFile&, int) override {}
    void showCounts(quint32 done, quint32 errors) override
    {
        counts << QString::number(done) + QLatin1Char('/') + QString::number(errors);
    }

    QStringList notes;
    QStringList refusals;
    QStringList counts; // "done/errors" per report
};

} // namespace

// The queue driver without a window, on a queue manager without sessions:
// the test moves files through their states by hand and checks what the
// driver does with them: the local pre- and post-processing steps with
// their results on disk, the counts and the "files ready" message, and
// deletion requests.
class TestQueueDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void trayMessageWaitsForRunningFiles();
    void resubmitRunsPreProcessingAgain();
    void preProcessing_data();
    void preProcessing();
    void failingPreProcessingKeepsTheSource();
    void postProcessingKeepsFinalOutputsOnly();
    void postProcessingFailureEndsInError();
    void deleteRequestsAreRetriedUntilDone();

private:
    QString wav(const QString& name, int channels, double seconds = 1.0);
    QString path(const QString& name) const { return dir->filePath(name); }
    QueueFile* queueFile(const QString& source, const ProcessingOptions& options = ProcessingOptions());
    void tick() { driver->queueTick(); }
    // Runs the pre-processing step for a file until the driver marks it done.
    bool preProcess(QueueFile* file);
    bool postProcess(QueueFile* file);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<QueueManager> manager;
    RecordingFrontEnd front;
    std::unique_ptr<QueueDriver> driver;
};

void TestQueueDriver::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestQueueDriver::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QFile::remove(queuestore::defaultPath());
    front = RecordingFrontEnd();
    settings = std::make_unique<Settings>();
    manager = std::make_unique<QueueManager>();
    driver = std::make_unique<QueueDriver>(*settings, *manager, front);
    driver->start();
    driver->startTimers();
}

void TestQueueDriver::cleanup()
{
    driver.reset();
    manager.reset();
    settings.reset();
    dir.reset();
}

QString TestQueueDriver::wav(const QString& name, int channels, double seconds)
{
    fixtures::Signal signal;
    signal.channels = channels;
    const QString file = path(name);
    if (!fixtures::writeSine(file, seconds, 440.0, 0.25, signal))
        return {};
    return QDir::toNativeSeparators(file);
}

QueueFile* TestQueueDriver::queueFile(const QString& source, const ProcessingOptions& options)
{
    const QString destination = QFileInfo(source).absolutePath() + QStringLiteral("/result.wav");
    return manager->addFileToQueue(source, 10, destination, "1: Speech", options);
}

bool TestQueueDriver::preProcess(QueueFile* file)
{
    file->setState(QueueFileState::PreProcessing);
    return QTest::qWaitFor(
        [&] {
            tick();
            return file->preProcessingDone();
        },
        60000);
}


bool TestQueueDriver::postProcess(QueueFile* file)
{
    file->setState(QueueFileState::PostProcessing);
    return QTest::qWaitFor(
        [&] {
            tick();
            return file->postProcessingDone();
        },
        60000);
}


void TestQueueDriver::trayMessageWaitsForRunningFiles()
{
    QueueFile* first = queueFile(wav("a.wav", 2));
    QueueFile* second = queueFile(wav("b.wav", 2));
    QueueFile* third = queueFile(wav("c.wav", 2));
    second->setState(QueueFileState::Running);
    first->setState(QueueFileState::Done);
    tick();
    QCOMPARE(front.counts, QStringList{"1/0"});
    QVERIFY(front.notes.isEmpty());

    third->setState(QueueFileState::Error);
    tick();
    QVERIFY(front.notes.isEmpty());
    QCOMPARE(front.counts.last(), QStringLiteral("1/1"));

    second->setState(QueueFileState::Done);
    tick();
    QCOMPARE(front.notes, QStringList{"Audio files ready\nFiles processed: 2\nErrors: 1"});
    tick();
    QCOMPARE(front.notes.size(), 1);
}


// A file whose pre-processing failed is resubmitted with its local steps
// reset: a second run that succeeds takes it on to the upload.
void TestQueueDriver::resubmitRunsPreProcessingAgain()
{
    const QString source = wav("take.wav", 1);
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --no-such-option");
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 3);
    file->setRetryable(true);
    file->setState(QueueFileState::Error);

    file->options.preProcessing_Arguments = QStringLiteral("nredOp00: SKIP");
    LocalSteps::resetForResubmit(*file);
    file->setState(QueueFileState::Waiting);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 0);
}


void TestQueueDriver::preProcessing_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("toDualMono");
    QTest::addColumn<int>("resultMode");
    QTest::addColumn<QString>("uploaded");     // expected srcFile name, "" = the source itself
    QTest::addColumn<int>("uploadedChannels");
    QTest::addColumn<QString>("destination");  // expected destFile name
    QTest::addColumn<bool>("uploadedKeptAtDone");

    QTest::newRow("nothing to do") << "nredOp00: SKIP" << false << 2 << "" << 1 << "result.wav" << true;
    QTest::newRow("dual mono copy") << "nredOp00: SKIP" << true << 2 << "take-dualmono.wav" << 2
                                    << "result-dualmono.wav" << false;
    QTest::newRow("replace original") << "" << true << 0 << "" << 2 << "result-dualmono.wav" << true;
    QTest::newRow("noise reduced, kept") << "nredOp00: --alwayson" << false << 2 << "take-nr.wav" << 1
                                         << "result-nr.wav" << true;
    QTest::newRow("noise reduced, deleted after upload")
        << "nredOp00: --alwayson" << true << 6 << "take-nr-dualmono.wav" << 2 << "result-nr-dualmono.wav" << false;
}


void TestQueueDriver::preProcessing()
{
    QFETCH(QString, arguments);
    QFETCH(bool, toDualMono);
    QFETCH(int, resultMode);
    QFETCH(QString, uploaded);
    QFETCH(int, uploadedChannels);
    QFETCH(QString, destination);
    QFETCH(bool, uploadedKeptAtDone);

    const QString source = wav("take.wav", 1, 2.0);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.preProcessing_Arguments = arguments;
    options.monoProcessing_ConvertToDualStereo = toDualMono;
    options.preProcessing_Result = resultMode;
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));

    QCOMPARE(file->preProcessingStatus, 6);
    QVERIFY2(file->errorMessage().isEmpty(), file->errorMessage().constData());
    const QString expectedUpload = uploaded.isEmpty() ? source : QDir::toNativeSeparators(path(uploaded));
    QCOMPARE(QString::fromUtf8(file->srcFile), expectedUpload);
    QCOMPARE(QString::fromUtf8(file->destFile), QDir::toNativeSeparators(path(destination)));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(expectedUpload, samples, rate, channels));
    QCOMPARE(channels, uploadedChannels);
    QCOMPARE(file->convertedToStereo, toDualMono);
    // The user's own file is never lost, and no work file is left behind.
    QVERIFY(QFileInfo::exists(source));
    QCOMPARE(QDir(dir->path()).entryList({"*.temp*"}, QDir::Files), QStringList());

    file->setState(QueueFileState::Done);
    tick();
    QCOMPARE(QFileInfo::exists(expectedUpload), uploadedKeptAtDone);
    QVERIFY(QFileInfo::exists(source));
}


void TestQueueDriver::failingPreProcessingKeepsTheSource()
{
    const QString source = wav("take.wav", 1);
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --no-such-option");
    options.preProcessing_Result = 0;
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 3);
    QVERIFY(file->errorMessage().startsWith("Error pre processing: "));
    QVERIFY(file->errorMessage().size() > int(strlen("Error pre processing: ")));
    QCOMPARE(QString::fromUtf8(file->srcFile), source);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"take.wav"});
}


void TestQueueDriver::postProcessingKeepsFinalOutputsOnly()
{
    // The downloaded result of a file widened to dual mono, kept as an
    // intermediate for two loudness targets.
    const QString download = wav("take - Speech-dualmono.tmp", 2, 3.0);
    const QString source = wav("take.wav", 1, 3.0);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS\nnormOp00: -23 dBrms");
    QueueFile* file = queueFile(source, options);
    file->destFile = download.toUtf8();
    file->convertedToStereo = true;
    QVERIFY(postProcess(file));

    const QStringList expected{QDir::toNativeSeparators(path("take - Speech -16 lufs.wav")),
                               QDir::toNativeSeparators(path("take - Speech -23 dbrms.wav"))};
    QStringList outputs;
    for (const QByteArray& output : file->outputFiles)
        outputs << QString::fromUtf8(output);
    QCOMPARE(outputs, expected);
    QVERIFY(file->destFile.isEmpty());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files, QDir::Name),
             (QStringList{"take - Speech -16 lufs.wav", "take - Speech -23 dbrms.wav", "take.wav"}));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(expected[1], samples, rate, channels));
    QCOMPARE(channels, 1);
    QVERIFY(std::abs(fixtures::rmsDb(samples) + 23.0) < 0.5);

    file->setState(QueueFileState::Done);
    tick();
    // The outputs are the file's results: none is taken for a work file.
    for (const QString& output : expected)
        QVERIFY(QFileInfo::exists(output));
}


void TestQueueDriver::postProcessingFailureEndsInError()
{
    const QString download = path("result.tmp");
    QVERIFY(fixtures::writeCorruptFile(download));
    ProcessingOptions options;
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS");
    QueueFile* file = queueFile(wav("take.wav", 2), options);
    file->destFile = QDir::toNativeSeparators(download).toUtf8();
    QVERIFY(postProcess(file));
    QCOMPARE(file->getState(), QueueFileState::Error);
    QVERIFY2(file->errorMessage().startsWith("Error post processing: "), file->errorMessage().constData());
    QVERIFY(file->retryable());
    QVERIFY(QFileInfo::exists(download));
    tick();
    QCOMPARE(front.counts.last(), QStringLiteral("0/1"));
}


void TestQueueDriver::deleteRequestsAreRetriedUntilDone()
{
    const QString first = wav("encoded-input-1.wav", 2);
    const QString second = wav("encoded-input-2.wav", 2);
    driver->addDeleteRequest(path("already-gone.wav"));
    driver->addDeleteRequest(first);
    driver->addDeleteRequest(second);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(first) && !QFileInfo::exists(second), 10000);
}

QTEST_GUILESS_MAIN(TestQueueDriver)
#include "tst_queuedriver.moc"
