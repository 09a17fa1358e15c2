#include "pipeline/formdata.h"
#include "pipeline/jobexpectation.h"
#include "pipeline/jobinfo.h"
#include "pipeline/queuefile.h"

#include <QJsonDocument>
#include <QTest>

#include <stdexcept>
#include <thread>

class TestPipelineRecords : public QObject {
    Q_OBJECT

private slots:
    void queueFileStartsWaitingWithRisingIds();
    void enteringAStepClearsItsDoneFlag();
    void originalSourceIsSetOnlyOnce();
    void toStringShowsPathTails_data();
    void toStringShowsPathTails();
    void stateIsSafeToReadWhileAnotherThreadWrites();
    void jobInfoTakesOnlyValuesOfTheRightType();
    void jobNamesAreComparedAsTheServiceKeepsThem();
    void jobStatusTextRoundsThePercentage_data();
    void jobStatusTextRoundsThePercentage();
    void fileDispositionKeepsThePartHeaderIntact_data();
    void fileDispositionKeepsThePartHeaderIntact();
};

void TestPipelineRecords::queueFileStartsWaitingWithRisingIds()
{
    QueueFile first("1: Speech");
    QueueFile second("1: Speech");
    QVERIFY(first.fileId >= 2000);
    QCOMPARE(second.fileId, first.fileId + 1);
    QCOMPARE(first.getState(), QueueFileState::Waiting);
    QCOMPARE(first.stateName(), QByteArray("Waiting"));
    QCOMPARE(first.preProcessingStatus, PreProcessingStatus::NotRun);
    QCOMPARE(first.presetName, QByteArray("1: Speech"));
    QCOMPARE(QueueFile::stateName(QueueFileState::PreProcessing), QByteArray("Pre processing"));
    QCOMPARE(QueueFile::stateName(QueueFileState::PostProcessing), QByteArray("Post processing"));
    QCOMPARE(QueueFile::stateName(QueueFileState(42)), QByteArray("Unknown State"));
}

void TestPipelineRecords::enteringAStepClearsItsDoneFlag()
{
    QueueFile file("1: Speech");
    file.markPreProcessingDone();
    file.markPostProcessingDone();
    file.setState(QueueFileState::Running);
    QVERIFY(file.preProcessingDone());
    QVERIFY(file.postProcessingDone());

    file.setState(QueueFileState::PreProcessing);
    QVERIFY(!file.preProcessingDone());
    QVERIFY(file.postProcessingDone());

    file.setState(QueueFileState::PostProcessing);
    QVERIFY(!file.postProcessingDone());
}

void TestPipelineRecords::originalSourceIsSetOnlyOnce()
{
    QueueFile file("1: Speech");
    file.setOriginalSourceFile("/in/a.wav");
    try {
        file.setOriginalSourceFile("/in/b.wav");
        QFAIL("a second original source was accepted");
    } catch (const std::runtime_error& error) {
        QCOMPARE(QByteArray(error.what()), QByteArray("original source file already set"));
    }
    QCOMPARE(file.originalSourceFile, QByteArray("/in/a.wav"));
}

void TestPipelineRecords::toStringShowsPathTails_data()
{
    QTest::addColumn<QByteArray>("src");
    QTest::addColumn<QByteArray>("srcShown");
    QTest::newRow("14 characters") << QByteArray("/tmp/abcd.wav") + "x" << QByteArray("abcd.wavx").prepend('/');
    QTest::newRow("10 characters") << QByteArray("/t/abc.wav") << QByteArray("/t/abc.wav");
    QTest::newRow("short") << QByteArray("a.wav") << QByteArray("a.wav");
    // Ten characters, not ten bytes: a multi-byte character is never cut.
    QTest::newRow("utf-8") << QByteArray("/music/\xc3\xa9t\xc3\xa9-01.wav") << QByteArray("\xc3\xa9-01.wav").prepend("\xc3\xa9t");
}

void TestPipelineRecords::toStringShowsPathTails()
{
    QFETCH(QByteArray, src);
    QFETCH(QByteArray, srcShown);
    QueueFile file("1: Speech");
    file.sessionId = 1000;
    file.srcFile = src;
    file.destFile = "/out/long-destination.wav";
    file.setDetails("Processing File Ready");
    file.setErrorMessage("none");
    file.setState(QueueFileState::Running);
    QCOMPARE(file.toString(), "File ID: " + QByteArray::number(file.fileId)
                                  + " Session ID: 1000 details: Processing File Ready state: 4 srcfile: " + srcShown
                                  + " destfile: nation.wav errorMessage: none");
}

void TestPipelineRecords::stateIsSafeToReadWhileAnotherThreadWrites()
{
    QueueFile file("1: Speech");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            file.setState(i % 2 ? QueueFileState::PreProcessing : QueueFileState::PostProcessing);
            file.setDetails(QByteArray::number(i));
            file.markPreProcessingDone();
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const QueueFileState state = file.getState();
        QVERIFY(state == QueueFileState::Waiting || state == QueueFileState::PreProcessing
                || state == QueueFileState::PostProcessing);
        file.details();
        file.preProcessingDone();
    }
    stop = true;
    writer.join();
}

void TestPipelineRecords::jobInfoTakesOnlyValuesOfTheRightType()
{
    const QJsonObject object = QJsonDocument::fromJson(R"({
        "id": 17, "name": "take.wav", "status": 6, "percentComplete": "40",
        "created": 5, "modified": "2024-01-02", "duration": 12.5, "cost": 1,
        "audioPresetName": "Speech -16 LUFS",
        "owner": {"id": 3, "name": "Demo", "email": "demo@sonvira.local", "credit": "many"}
    })").object();
    const JobInfo job = JobInfo::fromJson(object);
    QCOMPARE(job.id, 17);
    QCOMPARE(job.name, QByteArray("take.wav"));
    QCOMPARE(job.status, 6);
    QCOMPARE(job.percentComplete, 0.0);
    QCOMPARE(job.created, QByteArray());
    QCOMPARE(job.modified, QByteArray("2024-01-02"));
    QCOMPARE(job.duration, 12.5);
    QCOMPARE(job.cost, 1);
    QCOMPARE(job.audioPresetName, QByteArray("Speech -16 LUFS"));
    QCOMPARE(job.ownerId, 3);
    QCOMPARE(job.ownerEmail, QByteArray("demo@sonvira.local"));
    QCOMPARE(job.ownerCredit, 0);

    const JobInfo empty = JobInfo::fromJson(QJsonObject());
    QCOMPARE(empty.status, 0);
    QCOMPARE(empty.statusText(), QByteArray("Unknown"));
}

// A name with a backslash or a control character is sent as it is and may
// come back without them or as its last part; another name never matches.
void TestPipelineRecords::jobNamesAreComparedAsTheServiceKeepsThem()
{
    JobExpectation expected;
    expected.fileName = "take\\one\tA.wav";
    JobInfo job;
    for (const QByteArray& kept : {QByteArray("take\\one\tA.wav"), QByteArray("takeoneA.wav"), QByteArray("oneA.wav")}) {
        job.name = kept;
        QVERIFY2(expected.differenceFrom(job).isEmpty(), kept.constData());
    }
    job.name = "oneB.wav";
    QVERIFY(!expected.differenceFrom(job).isEmpty());
}

void TestPipelineRecords::jobStatusTextRoundsThePercentage_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<double>("percent");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("offered") << 4 << 12.0 << QByteArray("Offered");
    QTest::newRow("40.4") << 6 << 40.4 << QByteArray("Processing 40%");
    QTest::newRow("99.6") << 6 << 99.6 << QByteArray("Processing 100%");
    QTest::newRow("half up") << 7 << 12.5 << QByteArray("Uploading 13%");
    QTest::newRow("insufficient") << 12 << 0.0 << QByteArray("Insufficient Credit");
    QTest::newRow("no code 1") << 1 << 0.0 << QByteArray();
}

void TestPipelineRecords::jobStatusTextRoundsThePercentage()
{
    QFETCH(int, status);
    QFETCH(double, percent);
    QFETCH(QByteArray, text);
    JobInfo job;
    job.status = status;
    job.percentComplete = percent;
    QCOMPARE(job.statusText(), text);
}

void TestPipelineRecords::fileDispositionKeepsThePartHeaderIntact_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("disposition");
    QTest::newRow("plain") << QStringLiteral("Take 1.WAV")
                           << QByteArray(R"(form-data; name="file"; filename="Take 1.WAV")");
    QTest::newRow("quote and backslash") << QStringLiteral("say \"hi\" \\ bye.wav")
                                         << QByteArray(R"(form-data; name="file"; filename="say \"hi\" \\ bye.wav")");
    QTest::newRow("control characters") << QStringLiteral("a\r\nContent-Type: x\t.wav")
                                        << QByteArray(R"(form-data; name="file"; filename="aContent-Type: x.wav")");
    QTest::newRow("non-ascii") << QStringLiteral("Gr\u00f6\u00dfe 1.wav")
                               << QByteArray("form-data; name=\"file\"; filename=\"Gr\xc3\xb6\xc3\x9f" "e 1.wav\"; "
                                             "filename*=UTF-8''Gr%C3%B6%C3%9Fe%201.wav");
}

void TestPipelineRecords::fileDispositionKeepsThePartHeaderIntact()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, disposition);
    QCOMPARE(formdata::fileDisposition("file", name), disposition);
}

QTEST_GUILESS_MAIN(TestPipelineRecords)
#include "tst_pipelinerecords.moc"
