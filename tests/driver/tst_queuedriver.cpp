#include "audiofixtures.h"
#include "serviceprocess.h"

#include "audio/mp3encoder.h"
#include "audio/postprocessing.h"
#include "audio/preprocessing.h"
#include "driver/batchfigures.h"
#include "driver/frontend.h"
#include "driver/queuedriver.h"
#include "driver/resultencoding.h"
#include "driver/shownnames.h"
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

#include <csignal>
#include <functional>
#include <memory>

namespace {

// A front end that keeps what the driver tells a person.
class RecordingFrontEnd : public FrontEnd {
public:
    void filesQueued(const QStringList&) override {}
    void filesRefused(const QList<Refusal>&) override {}
    void filesReady(ReadyFiles kind, int processed, int errors) override
    {
        ready << QStringLiteral("%1 %2/%3").arg(kind == ReadyFiles::Audio ? "audio" : "video").arg(processed).arg(errors);
    }
    NewFilesOffer* newFilesOffer() override { return nullptr; }
    bool chooseVideoSounds(QList<FileRequest>&, const QStringList&) override { return false; }
    void showVideo(const videoFile&) override {}
    void showMp3Job(audioEncoderParent* encoder) override { mp3Jobs << encoder->outputFile(); }
    void mp3Ended(const mp3Encoder& encoder) override
    {
        mp3Ends << (encoder.succeeded() ? QStringLiteral("done ") : QStringLiteral("failed ")) + encoder.outputFile();
    }
    bool retriesErrors() const override { return false; }
    bool keepsFinishedFiles() const override { return keepsFinished; }
    void showQueue(const QList<QueueFile*>&) override {}
    void fileChanged(const QueueFile& file, int) override
    {
        dones += file.getState() == QueueFileState::Done ? 1 : 0;
        if (onChanged)
            onChanged();
    }
    void fileUploaded(const QueueFile&, int) override {}
    void fileRetrying(const QueueFile&, const QString&, int) override {}
    void loginPaused(int) override {}
    void showCounts(quint32 done, quint32 errors) override
    {
        counts << QString::number(done) + QLatin1Char('/') + QString::number(errors);
    }
    void showBatch(const BatchFigures& figures) override { batches << figures; }

    QStringList ready; // "audio|video processed/errors" per "files ready" event
    QStringList counts; // "done/errors" per report
    QList<BatchFigures> batches;
    QStringList mp3Jobs;
    QStringList mp3Ends; // "done|failed <mp3>" per ended job
    int dones = 0;
    bool keepsFinished = true;
    std::function<void()> onChanged;
};

} // namespace

// The queue driver without a window, mostly on a queue manager without
// sessions: the test moves files through their states by hand and checks
// what the driver does with them: the local pre- and post-processing steps
// with their results on disk, the counts and the "files ready" message, a
// finished file's MP3 jobs, and deletion requests. One file goes through
// every step against the reference service.
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
    void cancelledLocalStepsLeaveNoWorkFiles();
    void stepEndIsTakenUpWithoutATick_data();
    void stepEndIsTakenUpWithoutATick();
    void postProcessingFailureEndsInError_data();
    void postProcessingFailureEndsInError();
    void fileGoesThroughEveryStepAtTheService();
    void mp3NamesCarryTheSuffixAndPreset();
    void everyResultIsEncodedAndDeletedAfterwards();
    void filesAddedByHandAreNotEncoded();
    void eachMp3EndIsToldOnce();
    void encodingCutOffByTheEndIsMadeAtTheNextStart();
    void deleteRequestsAreRetriedUntilDone();
    void applySetupTakesTheNewNumberOfJobs();
    void finishedFilesLeaveWhereNobodyListsThem();

private:
    QString wav(const QString& name, int channels, double seconds = 1.0);
    QString path(const QString& name) const { return dir->filePath(name); }
    QueueFile* queueFile(const QString& source, const ProcessingOptions& options = ProcessingOptions());
    void tick() { driver->queueTick(); }
    // Puts the file into PreProcessing or PostProcessing and ticks until
    // the driver marks that step done.
    bool runLocalStep(QueueFile* file, QueueFileState step);
    bool preProcess(QueueFile* file) { return runLocalStep(file, QueueFileState::PreProcessing); }
    bool postProcess(QueueFile* file) { return runLocalStep(file, QueueFileState::PostProcessing); }
    // Sessions on the reference service, logged in with the demo account.
    bool logIn(ServiceProcess& service);
    ProcessingOptions mp3Options(bool deleteWav) const;
    // Marks the file Done with `results` as its post-processing outputs.
    void finishWith(QueueFile* file, const QStringList& results);
    // The output names of the driver's MP3 jobs, in their order.
    QStringList mp3Outputs() const;

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
    // The first loaded preset once logged in.
    return manager->addFileToQueue(source, 10, destination, manager->presets().value(0, "1: Speech"), options);
}

bool TestQueueDriver::runLocalStep(QueueFile* file, QueueFileState step)
{
    file->setState(step);
    return QTest::qWaitFor(
        [&] {
            tick();
            return step == QueueFileState::PreProcessing ? file->preProcessingDone() : file->postProcessingDone();
        },
        60000);
}

bool TestQueueDriver::logIn(ServiceProcess& service)
{
    if (!service.start()) {
        qWarning().noquote() << "the service did not start:" << service.errorString();
        return false;
    }
    manager->setCredentials(ServiceProcess::demoEmail().toUtf8(), ServiceProcess::demoPassword().toUtf8());
    return manager->createSessions(service.apiUrl().toUtf8(), 1)
        && QTest::qWaitFor([&] { return !manager->presets().isEmpty(); }, 15000);
}

ProcessingOptions TestQueueDriver::mp3Options(bool deleteWav) const
{
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.watchFolderPath = dir->path();
    options.preset = QStringLiteral("1: Speech");
    options.encodeToMP3 = true;
    options.encodeToMP3_bitRate = QStringLiteral("192");
    options.encodeToMP3_suffix = QStringLiteral("-{presetName}");
    options.deleteWAVafterMP3Encoding = deleteWav;
    return options;
}

void TestQueueDriver::finishWith(QueueFile* file, const QStringList& results)
{
    file->destFile.clear();   // the intermediate result was cleaned up
    for (const QString& result : results)
        file->outputFiles.append(result.toUtf8());
    file->setState(QueueFileState::Done);
    tick();
}

QStringList TestQueueDriver::mp3Outputs() const
{
    QStringList outputs;
    for (int i = 0; i < driver->mp3Jobs().count(); ++i)
        outputs << driver->mp3Jobs().at(i)->outputFile();
    return outputs;
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
    QVERIFY(front.ready.isEmpty());

    third->setState(QueueFileState::Error);
    tick();
    QVERIFY(front.ready.isEmpty());
    QCOMPARE(front.counts.last(), QStringLiteral("1/1"));
    // Submitted again, a file counts once, by its latest outcome.
    third->setState(QueueFileState::Waiting);
    tick();
    QCOMPARE(front.counts.last(), QStringLiteral("1/0"));
    third->setState(QueueFileState::Error);
    tick();

    second->setState(QueueFileState::Done);
    tick();
    QCOMPARE(front.ready, QStringList{"audio 2/1"});
    tick();
    QCOMPARE(front.ready.size(), 1);
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
    QCOMPARE(file->preProcessingStatus, PreProcessingStatus::Failed);
    file->setRetryable(true);
    file->setState(QueueFileState::Error);

    file->options.preProcessing_Arguments = QStringLiteral("nredOp00: SKIP");
    QVERIFY(driver->commands().resubmit(file->fileId));
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, PreProcessingStatus::Reset);
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

    QCOMPARE(file->preProcessingStatus, PreProcessingStatus::NotRun);
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
    QCOMPARE(file->preProcessingStatus, PreProcessingStatus::Failed);
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
    const QStringList expected{QDir::toNativeSeparators(path("take - Speech -16 lufs.wav")),
                               QDir::toNativeSeparators(path("take - Speech -23 dbrms.wav"))};
    // Before the step the panel names the outputs to come, not the work file.
    QCOMPARE(shownnames::destination(*file), expected.join(QStringLiteral("; ")));
    QVERIFY(postProcess(file));

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


// A file cancelled while its local step runs: the step stops (the noise
// tool's process is killed, the render ends early), its work files go, and
// the user's audio and the downloaded result stay. Submitted again, the
// step starts afresh.
void TestQueueDriver::cancelledLocalStepsLeaveNoWorkFiles()
{
    const QString source = wav("take.wav", 1, 300.0);
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    QueueFile* pre = queueFile(source, options);
    pre->setState(QueueFileState::PreProcessing);
    tick();
    // The tool writes "<its output>.<its process id>.part" while at work.
    qint64 tool = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QStringList parts = QDir(dir->path()).entryList({"*.part"}, QDir::Files);
            tool = parts.isEmpty() ? 0 : parts.first().section(QLatin1Char('.'), -2, -2).toLongLong();
            return tool > 0;
        },
        60000));
    QVERIFY(driver->commands().cancel(pre->fileId));
    QCOMPARE(pre->getState(), QueueFileState::Error);
    QCOMPARE(pre->errorMessage(), QByteArray("Cancelled by the user"));
    QTRY_VERIFY(::kill(pid_t(tool), 0) != 0);
    auto folderHolds = [&](const QStringList& files) {
        return QTest::qWaitFor(
            [&] {
                tick();
                return QDir(dir->path()).entryList(QDir::Files, QDir::Name) == files;
            },
            60000);
    };
    QVERIFY(folderHolds({"take.wav"}));
    QVERIFY(driver->commands().resubmit(pre->fileId));
    pre->setState(QueueFileState::PreProcessing);
    tick();
    QVERIFY(pre->preProcessor && !pre->preProcessor->isFinished());
    QVERIFY(driver->commands().cancel(pre->fileId));
    QVERIFY(folderHolds({"take.wav"}));

    // A stereo result narrowed back to mono: once the mono file is being
    // written, only a stop can bring the folder back to the download (the
    // finished step would have replaced it by the mono file).
    const QString download = wav("take - Speech.tmp", 2, 300.0);
    ProcessingOptions targets;
    targets.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS");
    QueueFile* post = queueFile(source, targets);
    post->destFile = download.toUtf8();
    post->convertedToStereo = true;
    post->setState(QueueFileState::PostProcessing);
    tick();
    QVERIFY(QTest::qWaitFor([&] { return QDir(dir->path()).entryList(QDir::Files).size() > 2; }, 60000));
    QVERIFY(driver->commands().cancel(post->fileId));
    QVERIFY(folderHolds({"take - Speech.tmp", "take.wav"}));
    QCOMPARE(post->getState(), QueueFileState::Error);
}

void TestQueueDriver::stepEndIsTakenUpWithoutATick_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("pre-processing") << int(QueueFileState::PreProcessing);
    QTest::newRow("post-processing") << int(QueueFileState::PostProcessing);
}

// A driver without its timers: once a tick has started the step, only the
// end of its job can take the file on. The file is long enough for its job
// to outlast the cycles that the tick starts.
void TestQueueDriver::stepEndIsTakenUpWithoutATick()
{
    QFETCH(int, step);
    driver.reset();
    manager = std::make_unique<QueueManager>();
    driver = std::make_unique<QueueDriver>(*settings, *manager, front);
    driver->start();
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS");
    QueueFile* file = queueFile(wav("take.wav", 2, 20.0), options);
    file->destFile = wav("result.tmp", 2, 20.0).toUtf8();
    file->setState(QueueFileState(step));
    tick();
    QVERIFY(QTest::qWaitFor([&] { return file->preProcessingDone() || file->postProcessingDone(); }, 60000));
}

void TestQueueDriver::postProcessingFailureEndsInError_data()
{
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unreadable result") << true << "normOp00: -16 LUFS" << "Error post processing: ";
    // Widened to dual mono for the service, narrowed back to mono for a
    // target without a unit: no final output is made, so the downloaded
    // stereo result stays.
    QTest::newRow("nothing made") << false << "normOp00: -16"
                                  << "Error post processing: No normalised file was made from ";
}

void TestQueueDriver::postProcessingFailureEndsInError()
{
    QFETCH(bool, corrupt);
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    const QString download = path("result.tmp");
    QVERIFY(corrupt ? fixtures::writeCorruptFile(download) : !wav("result.tmp", 2).isEmpty());
    const QString source = wav("take.wav", corrupt ? 2 : 1);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.postProcessing_Arguments = arguments;
    QueueFile* file = queueFile(source, options);
    file->destFile = QDir::toNativeSeparators(download).toUtf8();
    file->convertedToStereo = !corrupt;
    QVERIFY(postProcess(file));
    QCOMPARE(file->getState(), QueueFileState::Error);
    QVERIFY2(file->errorMessage().startsWith(message.toUtf8()), file->errorMessage().constData());
    QVERIFY(file->retryable());
    QVERIFY(file->outputFiles.isEmpty());
    QCOMPARE(QString::fromUtf8(file->destFile), QDir::toNativeSeparators(download));
    QVERIFY(QFileInfo::exists(download));
    QVERIFY(QFileInfo::exists(source));
    tick();
    QCOMPARE(front.counts.last(), QStringLiteral("0/1"));
}

// Noise reduction and dual mono before the upload, back to mono and two
// loudness targets after the download: only the final outputs and the
// source stay, and the batch figures went forward at every step.
void TestQueueDriver::fileGoesThroughEveryStepAtTheService()
{
    ServiceProcess service({QStringLiteral("--step-ms"), QStringLiteral("20")});
    QVERIFY(logIn(service));
    const QString source = wav("interview.wav", 1, 3.0);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    options.monoProcessing_ConvertToDualStereo = true;
    options.preProcessing_Result = 6;
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS\nnormOp00: -20 dBrms");
    QueueFile* file = queueFile(source, options);
    QVERIFY2(QTest::qWaitFor([&] { return file->getState() == QueueFileState::Done; }, 60000),
             file->toString().constData());

    QCOMPARE(file->outputFiles.size(), 2);
    for (const QByteArray& output : std::as_const(file->outputFiles)) {
        std::vector<float> samples;
        int rate = 0;
        int channels = 0;
        QVERIFY(fixtures::readAudio(QString::fromUtf8(output), samples, rate, channels));
        QCOMPARE(channels, 1);
    }
    QVERIFY(QString::fromUtf8(file->outputFiles.last()).endsWith(QStringLiteral(" -20 dbrms.wav")));
    QVERIFY(file->destFile.isEmpty());
    QTRY_VERIFY(!QFileInfo::exists(QString::fromUtf8(file->srcFile)));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files, QDir::Name),
             (QStringList{"interview.wav", "result-nr -16 lufs.wav", "result-nr -20 dbrms.wav"}));
    QCOMPARE(front.counts.last(), QStringLiteral("1/0"));

    // The batch went forward at every step and ended with its file.
    QTRY_COMPARE(front.batches.last().text(), QStringLiteral("1 file done"));
    // Idle while logging in.
    QCOMPARE(front.batches.first().text(), QStringLiteral("Idle"));
    QVERIFY(front.batches.at(1).text().startsWith(QStringLiteral("0 of 1 files, ")));
    int steps = 0;
    for (int i = 2; i < front.batches.size(); ++i) {
        QVERIFY(front.batches.at(i).percent >= front.batches.at(i - 1).percent);
        steps += front.batches.at(i).percent > 0 && front.batches.at(i).percent < 100 ? 1 : 0;
    }
    QVERIFY(steps >= 2);
}

void TestQueueDriver::mp3NamesCarryTheSuffixAndPreset()
{
    QCOMPARE(mp3NameFor(QStringLiteral("/out/take - Speech -16 lufs.wav"), QStringLiteral("-{presetName}"),
                        QStringLiteral("Speech")),
             QDir::toNativeSeparators(QStringLiteral("/out/take - Speech -16 lufs-Speech.mp3")));
    QCOMPARE(mp3NameFor(QStringLiteral("/out/a.b.wav"), QString(), QStringLiteral("x")),
             QDir::toNativeSeparators(QStringLiteral("/out/a.b.mp3")));
}

void TestQueueDriver::everyResultIsEncodedAndDeletedAfterwards()
{
    const QString first = wav(QStringLiteral("take -16 lufs.wav"), 2, 3.0);
    const QString second = wav(QStringLiteral("take -23 dbrms.wav"), 2, 3.0);
    finishWith(queueFile(wav(QStringLiteral("take.wav"), 2), mp3Options(true)), {first, second});
    const QString firstMp3 = QDir::toNativeSeparators(path(QStringLiteral("take -16 lufs-1_ Speech.mp3")));
    const QString secondMp3 = QDir::toNativeSeparators(path(QStringLiteral("take -23 dbrms-1_ Speech.mp3")));
    QCOMPARE(mp3Outputs(), (QStringList{firstMp3, secondMp3}));
    QCOMPARE(front.mp3Jobs, mp3Outputs());
    QCOMPARE(driver->mp3Jobs().at(0)->settings(), QStringLiteral("-b192"));

    // A WAV is never gone before its MP3 is complete under its final name.
    const auto checkOrder = [&](const QString& wav, const QString& mp3) {
        if (QFileInfo::exists(wav))
            return true;
        return QFileInfo(mp3).size() > 0 && !QFileInfo::exists(mp3Encoder::partialFileName(mp3));
    };
    bool inOrder = true;
    QVERIFY(QTest::qWaitFor(
        [&] {
            inOrder = checkOrder(first, firstMp3) && checkOrder(second, secondMp3);
            return !inOrder || (!QFileInfo::exists(first) && !QFileInfo::exists(second));
        },
        60000));
    QVERIFY(inOrder);
    QVERIFY(QFileInfo(firstMp3).size() > 0);
    QVERIFY(QFileInfo(secondMp3).size() > 0);
}

void TestQueueDriver::filesAddedByHandAreNotEncoded()
{
    ProcessingOptions byHand = mp3Options(false);
    byHand.fromWatchFolder = false;
    QueueFile* file = queueFile(wav(QStringLiteral("hand.wav"), 2), byHand);
    file->destFile = wav(QStringLiteral("hand - x.wav"), 2).toUtf8();
    file->setState(QueueFileState::Done);
    tick();
    QVERIFY(mp3Outputs().isEmpty());

    // From a watched folder without post-processing: one job for destFile,
    // which stays.
    QueueFile* watched = queueFile(wav(QStringLiteral("w.wav"), 2), mp3Options(false));
    watched->destFile = wav(QStringLiteral("w - x.wav"), 2).toUtf8();
    watched->setState(QueueFileState::Done);
    tick();
    QCOMPARE(mp3Outputs(), QStringList{QDir::toNativeSeparators(path(QStringLiteral("w - x-1_ Speech.mp3")))});
    QVERIFY(QTest::qWaitFor([&] { return driver->mp3Jobs().at(0)->isFinished(); }, 30000));
    QVERIFY(QFileInfo::exists(QString::fromUtf8(watched->destFile)));
}

void TestQueueDriver::eachMp3EndIsToldOnce()
{
    const QString good = wav(QStringLiteral("good.wav"), 2);
    const QString broken = path(QStringLiteral("broken.wav"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
    file.close();
    finishWith(queueFile(wav(QStringLiteral("take.wav"), 2), mp3Options(true)), {good, broken});
    const QStringList expected{QStringLiteral("done ") + QDir::toNativeSeparators(path(QStringLiteral("good-1_ Speech.mp3"))),
        QStringLiteral("failed ") + QDir::toNativeSeparators(path(QStringLiteral("broken-1_ Speech.mp3")))};
    QTRY_COMPARE_WITH_TIMEOUT(front.mp3Ends.size(), 2, 30000);
    // Ticks that follow tell nothing again; the WAV of the failed MP3 stays.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(good), 10000);
    QStringList ends = front.mp3Ends;
    ends.sort();
    QCOMPARE(ends, expected);
    QVERIFY(QFileInfo::exists(broken));
}

void TestQueueDriver::encodingCutOffByTheEndIsMadeAtTheNextStart()
{
    const QString result = wav(QStringLiteral("long -16 lufs.wav"), 2, 120.0);
    QVERIFY(!result.isEmpty());
    finishWith(queueFile(wav(QStringLiteral("long.wav"), 2), mp3Options(false)), {result});
    QCOMPARE(mp3Outputs().size(), 1);
    QVERIFY(!driver->mp3Jobs().at(0)->isFinished());
    // The end of the driver cuts the encoding off; the finished file stays in queue.xml.
    driver.reset();
    manager = std::make_unique<QueueManager>();
    const QString mp3 = QDir::toNativeSeparators(path(QStringLiteral("long -16 lufs-1_ Speech.mp3")));
    QVERIFY(!QFileInfo::exists(mp3));

    driver = std::make_unique<QueueDriver>(*settings, *manager, front);
    driver->start();
    const QList<QueueFile*> restored = manager->snapshot();
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored.first()->outputFiles, QList<QByteArray>{result.toUtf8()});
    tick();
    QCOMPARE(mp3Outputs(), QStringList{mp3});
    QVERIFY(QTest::qWaitFor([&] { return driver->mp3Jobs().at(0)->isFinished(); }, 60000));
    QVERIFY(QFileInfo(mp3).size() > 120 * 192000 / 8 * 9 / 10);
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

void TestQueueDriver::applySetupTakesTheNewNumberOfJobs()
{
    settings->parallelJobs = 3;
    driver->applySetup();
    QCOMPARE(manager->parallelJobs(), 3);
}

void TestQueueDriver::finishedFilesLeaveWhereNobodyListsThem()
{
    front.keepsFinished = false;
    QueueFile* done = queueFile(wav("a.wav", 2));
    QueueFile* failed = queueFile(wav("b.wav", 2));
    QueueFile* encoding = queueFile(wav("c.wav", 2));
    const int doneId = done->fileId;
    encoding->pendingMp3s->store(1);
    done->setState(QueueFileState::Done);
    failed->setState(QueueFileState::Error);
    encoding->setState(QueueFileState::Done);
    tick();
    QVERIFY(!manager->findFile(doneId));
    QCOMPARE(manager->snapshot(), (QList<QueueFile*>{failed, encoding}));
    QCOMPARE(front.counts.last(), QStringLiteral("2/1"));
    // Its MP3s made, the second one goes too; the failed file stays to be submitted again.
    encoding->pendingMp3s->store(0);
    tick();
    QCOMPARE(manager->snapshot(), QList<QueueFile*>{failed});

    // A file a cycle finishes while the driver follows the others is told
    // as Done before it goes.
    QueueFile* late = queueFile(wav("d.wav", 2));
    QueueFile* next = queueFile(wav("e.wav", 2));
    tick();
    front.onChanged = [late] { late->setState(QueueFileState::Done); };
    next->setState(QueueFileState::Running);
    const int donesBefore = front.dones;
    tick();
    QCOMPARE(manager->snapshot(), (QList<QueueFile*>{failed, late, next}));
    front.onChanged = nullptr;
    tick();
    QCOMPARE(front.dones, donesBefore + 1);
    QCOMPARE(manager->snapshot(), (QList<QueueFile*>{failed, next}));
}

QTEST_GUILESS_MAIN(TestQueueDriver)
#include "tst_queuedriver.moc"
