#include "settings/folderoptionlines.h"

#include <QTest>

using namespace folderoptions;

// The option lines of a watched folder as the folder editor reads and
// writes them: loudness targets, the noise-reduction line with its custom
// values, and the pre-processing result number.
class TestFolderOptionLines : public QObject {
    Q_OBJECT

private slots:
    void targetsAreReadIgnoringCaseAndWrittenInTheirOrder();
    void customNoiseValues();
    void noiseLineParsing();
    void preProcessResult();
};

void TestFolderOptionLines::targetsAreReadIgnoringCaseAndWrittenInTheirOrder()
{
    const QList<bool> chosen = chosenTargets(QStringLiteral("normop00: -23 DBRMS\nnormOp00: -16 LUFS\nnormOp00: -17 LUFS"));
    QCOMPARE(chosen, (QList<bool>{false, false, true, false, true, false, false}));
    QCOMPARE(targetArguments(chosen), QStringLiteral("normOp00: -16 LUFS\nnormOp00: -23 dBrms"));
    QCOMPARE(targetArguments(chosenTargets(QString())), QString());
}

void TestFolderOptionLines::customNoiseValues()
{
    struct Case {
        const char* speechToMusic;
        const char* musicToSpeech;
        const char* line;
        NoiseMode readBack;
    };
    const Case cases[] = {
        {"0.7", "1.5", "nredOp00: -stmlength 0.7 -mtslength 1.5", NoiseMode::Custom},
        {"9", "0.1", "nredOp00: -stmlength 4 -mtslength 0.25", NoiseMode::Custom},
        {"1.23456789", "2", "nredOp00: -stmlength 1.23457 -mtslength 2", NoiseMode::Custom},
        {"0.5", "2.0", "nredOp00: -stmlength 0.5 -mtslength 2", NoiseMode::Custom},
        // Out of range for a float, still a number: clamped.
        {"1e40", "-inf", "nredOp00: -stmlength 4 -mtslength 0.25", NoiseMode::Custom},
        // A value that is not a number never takes the other one with it.
        {"abc", "1", "nredOp00: -stmlength 0.5 -mtslength 1", NoiseMode::Custom},
        {"1", "", "nredOp00: -stmlength 1 -mtslength 2", NoiseMode::Custom},
        {"nan", "1", "nredOp00: -stmlength 0.5 -mtslength 1", NoiseMode::Custom},
        // Neither: the defaults as written, which is the line of "Speech with music".
        {"nan", "x", "nredOp00: -stmlength 0.5 -mtslength 2.0", NoiseMode::SpeechWithMusic},
    };
    for (const Case& c : cases) {
        const QString line =
            noiseArguments(NoiseMode::Custom, QString::fromLatin1(c.speechToMusic), QString::fromLatin1(c.musicToSpeech));
        QCOMPARE(line, QString::fromLatin1(c.line));
        QCOMPARE(readNoiseReduction(line).mode, c.readBack);
    }
    QCOMPARE(noiseArguments(NoiseMode::AlwaysOn, {}, {}), QStringLiteral("nredOp00: --alwayson"));
}

void TestFolderOptionLines::noiseLineParsing()
{
    struct Case {
        const char* arguments;
        NoiseMode mode;
        const char* speechToMusic; // null: no values
        const char* musicToSpeech;
    };
    const Case cases[] = {
        // Later duplicates win; the order of the keys does not matter.
        {"nredOp00: -mtslength 1 -stmlength 3 -stmlength 2", NoiseMode::Custom, "2", "1"},
        // Values are given as they stand.
        {"nredOp00: -stmlength abc -mtslength 1", NoiseMode::Custom, "abc", "1"},
        // Only the first line is parsed.
        {"nredOp00: SKIPPED\nnredOp00: -stmlength 1 -mtslength 1", NoiseMode::None, nullptr, nullptr},
        // A key directly followed by another key takes it as its value.
        {"-stmlength -mtslength 1.5", NoiseMode::None, nullptr, nullptr},
        {"-stmlength 1", NoiseMode::None, nullptr, nullptr},
        {"nredOp00: custom", NoiseMode::Custom, nullptr, nullptr},
        // The last line that names a mode wins.
        {"nredOp00: SKIP\nnredOp00: --AlwaysOn", NoiseMode::AlwaysOn, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const NoiseReduction read = readNoiseReduction(QString::fromLatin1(c.arguments));
        QCOMPARE(read.mode, c.mode);
        QCOMPARE(read.speechToMusic.has_value(), c.speechToMusic != nullptr);
        if (c.speechToMusic) {
            QCOMPARE(*read.speechToMusic, QString::fromLatin1(c.speechToMusic));
            QCOMPARE(*read.musicToSpeech, QString::fromLatin1(c.musicToSpeech));
        }
    }
}

void TestFolderOptionLines::preProcessResult()
{
    for (int stored : {0, 1, 4, 5}) {
        QVERIFY(readPreProcessResult(stored).replaceOriginal);
        QCOMPARE(preProcessResultNumber(readPreProcessResult(stored)), 0);
    }
    QVERIFY(!readPreProcessResult(2).deleteAfterSubmission);
    QVERIFY(readPreProcessResult(6).deleteAfterSubmission);
    QVERIFY(!readPreProcessResult(7).deleteAfterSubmission);
    QCOMPARE(preProcessResultNumber({false, true}), 6);
    QCOMPARE(preProcessResultNumber({false, false}), 2);
    // Replacing the original wins over deleting the result.
    QCOMPARE(preProcessResultNumber({true, true}), 0);
}

QTEST_GUILESS_MAIN(TestFolderOptionLines)
#include "tst_folderoptionlines.moc"
