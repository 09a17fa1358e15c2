#include "audio/runprocess.h"
#include "audiofixtures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kStandIn = QStringLiteral(SONVIRA_BIN_DIR "/testtools/standintool");

} // namespace

class TestRunProcess : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;

    QStringList toolArguments(const QString& mode)
    {
        const QString in = dir.filePath("in.wav");
        if (!QFile::exists(in))
            QFile(in).open(QIODevice::WriteOnly);
        return {"-input", in, "-modelpath", dir.path(), "-output", dir.filePath("out.wav"), "--mode", mode};
    }

private slots:
    void missingProgramReturnsAtOnce()
    {
        svutil::RunProcess runner;
        QElapsedTimer timer;
        timer.start();
        runner.run(dir.filePath("no-such-program"), {}, true);
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(runner.isFinished());
        QCOMPARE(runner.exitCode(), -1);
        QVERIFY(!runner.lastMessage().isEmpty());
    }

    void exitCodeAndStandardErrorAreKept()
    {
        svutil::RunProcess runner;
        runner.run(kStandIn, toolArguments("exit3"), true);
        QVERIFY(runner.isFinished());
        QCOMPARE(runner.exitCode(), 3);
        QCOMPARE(runner.lastMessage(), QString("stand-in failed on purpose\n"));
    }

    void outputIsTrimmedAndCrashesAreReported()
    {
        svutil::RunProcess runner;
        QStringList seen;
        connect(&runner, &svutil::RunProcess::StatusUpdated, this, [&](const QString& text) { seen << text; });
        runner.run(kStandIn, toolArguments("crash"), true);
        QVERIFY(runner.isFinished());
        QCOMPARE(seen.value(0), QString("3_of_10"));
        QCOMPARE(runner.lastMessage(), QString("Process crashed."));
        QCOMPARE(runner.output(), QString("3_of_10"));
    }

    // The tool says "File Ready" and stays alive: the receiver ends it from
    // inside the signal, with short time-outs on the same path the client
    // uses with 10 s and 60 s. Output that arrives during the wait is
    // delivered re-entrantly and must not deadlock.
    void readyThenHangingToolIsKilledFromTheSignal()
    {
        svutil::RunProcess runner;
        QStringList seen;
        connect(&runner, &svutil::RunProcess::StatusUpdated, this, [&](const QString& text) {
            seen << text;
            if (text == QLatin1String("File Ready"))
                runner.killProcess(2000, 500);
        });
        QElapsedTimer timer;
        timer.start();
        runner.run(kStandIn, toolArguments("ready-hang"), true);
        QVERIFY(timer.elapsed() < 20000);
        QVERIFY(runner.isFinished());
        QCOMPARE(runner.lastMessage(), QString("Process was forcefully killed."));
        QVERIFY(seen.contains("File Ready"));
        QVERIFY(seen.contains("still here"));

        // Nothing left to kill: no change.
        runner.killProcess(2000, 500);
        QCOMPARE(runner.lastMessage(), QString("Process was forcefully killed."));
    }

    // Two writes in one read are two lines, one line in two reads is one.
    void outputIsPassedOnLineByLine()
    {
        svutil::RunProcess runner;
        QStringList seen;
        connect(&runner, &svutil::RunProcess::StatusUpdated, this, [&](const QString& text) { seen << text; });
        runner.run(kStandIn, toolArguments("ready-with-text"), true);
        QCOMPARE(seen, (QStringList{"3_of_10", "File Ready", "10_of_10"}));
        QCOMPARE(runner.output(), QString("10_of_10"));
        seen.clear();
        runner.run(kStandIn, toolArguments("ready-in-pieces"), true);
        QCOMPARE(seen, (QStringList{"3_of_10", "File Ready"}));
    }

    void toolThatEndsWithinTheFirstWaitIsNotKilled()
    {
        svutil::RunProcess runner;
        connect(&runner, &svutil::RunProcess::StatusUpdated, this, [&](const QString& text) {
            if (text == QLatin1String("File Ready"))
                runner.killProcess(2000, 10000);
        });
        runner.run(kStandIn, toolArguments("ready"), true);
        QVERIFY(runner.isFinished());
        QCOMPARE(runner.exitCode(), 0);
        QVERIFY(runner.lastMessage().isEmpty());
    }

    void runWithoutWaitingReportsTheEndLater()
    {
        svutil::RunProcess runner;
        runner.run(kStandIn, toolArguments("exit3"), false);
        QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 10000);
        QCOMPARE(runner.exitCode(), 3);
        // A second run on the same runner starts clean.
        runner.run(kStandIn, toolArguments("ready"), true);
        QCOMPARE(runner.exitCode(), 0);
        QVERIFY(runner.lastMessage().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRunProcess)
#include "tst_runprocess.moc"
