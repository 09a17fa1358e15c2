#include "pipeline/formdata.h"
#include "pipeline/jobexpectation.h"
#include "pipeline/jobinfo.h"
#include "pipeline/queuefile.h"
#include "pipeline/webreplies.h"

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
    void retryAfterInEveryForm_data();
    void retryAfterInEveryForm();
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
// A service is free in how it names a job and in what its duration counts:
// another file's job shows in a name and a length that both differ, in
// another preset, or in a creation time or id that changes between answers.
void TestPipelineRecords::jobNamesAreComparedAsTheServiceKeepsThem()
{
    JobExpectation expected;
    expected.fileName = "take\\one\tsay \"A\".wav";
    expected.seconds = 12.0;
    JobInfo job;
    job.duration = 30.0;
    for (const QByteArray& kept : {QByteArray("take\\one\tsay \"A\".wav"), QByteArray("takeonesay \"A\".wav"),
                                   QByteArray("onesay \"A\".wav"), QByteArray("take%5Conesay %22A%22.wav")}) {
        job.name = kept;
        QVERIFY2(expected.differenceFrom(job).isEmpty(), kept.constData());
    }
    job.name = "Job 17";
    QVERIFY(!expected.differenceFrom(job).isEmpty());
    job.duration = 12.4;
    QVERIFY(expected.differenceFrom(job).isEmpty());
    job.duration = 0;
    job.name = "other.wav";
    QVERIFY(expected.differenceFrom(job).isEmpty());

    job.id = 5;
    job.created = "2026-01-01T10:00:00Z";
    expected.recordFirstAnswer(job);
    QVERIFY(expected.differenceFrom(job).isEmpty());
    JobInfo renamed = job;
    renamed.name = "other-processed.wav";
    QVERIFY(expected.differenceFrom(renamed).isEmpty());
    for (const auto& change : {+[](JobInfo& j) { j.id = 6; },
                               +[](JobInfo& j) { j.created = "2026-01-01T10:00:01Z"; },
                               +[](JobInfo& j) { j.audioPresetName = "Music"; }}) {
        JobInfo later = job;
        change(later);
        expected.presetName = "Speech";
        QVERIFY(!expected.differenceFrom(later).isEmpty());
    }
    JobInfo sparse;
    QVERIFY2(expected.differenceFrom(sparse).isEmpty(), expected.differenceFrom(sparse).constData());
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
                                         << QByteArray(R"(form-data; name="file"; filename="say %22hi%22 %5C bye.wav")");
    QTest::newRow("control characters") << QStringLiteral("a\r\nContent-Type: x\t.wav")
                                        << QByteArray(R"(form-data; name="file"; filename="aContent-Type: x.wav")");
    QTest::newRow("non-ascii") << QStringLiteral("Gr\u00f6\u00dfe 1.wav")
                               << QByteArray("form-data; name=\"file\"; filename=\"Gr\xc3\xb6\xc3\x9f" "e 1.wav\"");
}

void TestPipelineRecords::fileDispositionKeepsThePartHeaderIntact()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, disposition);
    QCOMPARE(formdata::fileDisposition("file", name), disposition);
}

// Retry-After as seconds or as an HTTP date in any of its three forms,
// counted from 06 Nov 1994 08:49:00 GMT; anything else asks for no wait.
void TestPipelineRecords::retryAfterInEveryForm_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("ms");
    QTest::newRow("seconds") << QByteArray(" 120 ") << 120000;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("beyond an hour") << QByteArray("86400") << 3600000;
    QTest::newRow("beyond any number") << QByteArray("99999999999999999999999") << 3600000;
    QTest::newRow("negative") << QByteArray("-5") << 0;
    QTest::newRow("fraction") << QByteArray("1.5") << 0;
    QTest::newRow("IMF-fixdate") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << 37000;
    QTest::newRow("RFC 850") << QByteArray("Sunday, 06-Nov-94 08:49:37 GMT") << 37000;
    QTest::newRow("asctime") << QByteArray("Sun Nov  6 08:49:37 1994") << 37000;
    QTest::newRow("past") << QByteArray("Sun, 06 Nov 1994 08:48:00 GMT") << 0;
    QTest::newRow("other zone") << QByteArray("Sun, 06 Nov 1994 08:49:37 +0100") << 0;
    QTest::newRow("no such day") << QByteArray("Sun, 31 Nov 1994 08:49:37 GMT") << 0;
    QTest::newRow("words") << QByteArray("soon") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestPipelineRecords::retryAfterInEveryForm()
{
    QFETCH(QByteArray, value);
    QFETCH(int, ms);
    const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 0), Qt::UTC);
    QCOMPARE(webreplies::retryAfterMs(value, now), ms);
}

QTEST_GUILESS_MAIN(TestPipelineRecords)
#include "tst_pipelinerecords.moc"
