#include "dialogs/scanpathwidget.h"
#include "settings/folderoptionlines.h"
#include "settings/scanpath.h"
#include "tests/dialogs/modalanswer.h"
#include "tests/dialogs/namedchild.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

Q_DECLARE_METATYPE(ScanPath)

namespace {

const QList<QByteArray> kPresets{"1: Speech -16 LUFS", "2: Music -14 LUFS"};

// Every stored member as "name=value", so a failed comparison names the field.
QStringList fields(const ScanPath& r)
{
    const auto b = [](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); };
    return {"path=" + r.path,
            "showDialog=" + b(r.showDialog),
            "preset=" + QString::fromUtf8(r.preset),
            "outputPath=" + r.outputPath,
            "outputSuffix=" + r.outputSuffix,
            "enabled=" + b(r.enabled),
            "encodeToMP3=" + b(r.encodeToMP3),
            "encodeToMP3_bitRate=" + r.encodeToMP3_bitRate,
            "encodeToMP3_suffix=" + r.encodeToMP3_suffix,
            "deleteWAVafterMP3Encoding=" + b(r.deleteWAVafterMP3Encoding),
            "postProcessing_Arguments=" + r.postProcessing_Arguments,
            "preProcessing_Arguments=" + r.preProcessing_Arguments,
            "preProcessing_Result=" + QString::number(r.preProcessing_Result),
            "monoProcessing_ConvertToDualStereo=" + b(r.monoProcessing_ConvertToDualStereo),
            "monoProcessing_KeepConverted=" + b(r.monoProcessing_KeepConverted),
            "recursive=" + b(r.recursive),
            "settleSeconds=" + QString::number(r.settleSeconds),
            "truePeakCeiling=" + QString::number(r.truePeakCeiling),
            "id=" + QString::number(r.id)};
}

ScanPath baseRecord()
{
    ScanPath record;
    record.path = QStringLiteral("/data/in");
    record.outputPath = QStringLiteral("/data/out");
    record.preset = kPresets.at(1);
    record.preProcessing_Arguments = QStringLiteral("nredOp00: SKIP");
    record.id = 7;
    return record;
}

// The checked loudness-target boxes or noise-mode buttons, by their labels.
template <typename T>
QStringList checkedTexts(QWidget& panel)
{
    QStringList options;
    for (const auto* choices : {&folderoptions::loudnessTargets(), &folderoptions::noiseModes()}) {
        for (const folderoptions::Choice& choice : *choices)
            options << QString::fromLatin1(choice.label);
    }
    QStringList texts;
    for (T* control : panel.findChildren<T*>()) {
        if (control->isChecked() && options.contains(control->text()))
            texts << control->text();
    }
    return texts;
}

ScanPath stored(const scanPathWidget& panel)
{
    ScanPath record;
    panel.storeTo(record);
    return record;
}

} // namespace

// The watched-folder panel: a record goes in through loadFrom and comes back
// through storeTo, with the option strings translated both ways.
class TestScanPathWidget : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void targetsAreShownByTheirLabels();
    void customNoiseValuesComeFromTheEdits();
    void deleteAfterSubmissionFollowsNrSuffix();
    void panelNumbersAndDeleteSignal();
    void browsingSetsNativeFolder();
    void paintsGradientFromWindowColour();
};

void TestScanPathWidget::roundTrip_data()
{
    QTest::addColumn<QList<QByteArray>>("presets");
    QTest::addColumn<ScanPath>("input");
    QTest::addColumn<ScanPath>("expected");

    const ScanPath base = baseRecord();
    QTest::newRow("defaults") << kPresets << base << base;

    ScanPath every = base;
    every.showDialog = true;
    every.outputSuffix = QStringLiteral("-{presetName} final");
    every.encodeToMP3 = true;
    every.encodeToMP3_bitRate = QStringLiteral("320");
    every.encodeToMP3_suffix = QStringLiteral("-web");
    every.deleteWAVafterMP3Encoding = true;
    every.monoProcessing_ConvertToDualStereo = true;
    every.monoProcessing_KeepConverted = true;
    every.recursive = true;
    every.settleSeconds = 600;
    every.truePeakCeiling = -2.5;
    every.postProcessing_Arguments = QStringLiteral(
        "normOp00: -19 LUFS\nnormOp00: -18 LUFS\nnormOp00: -16 LUFS\nnormOp00: -14 LUFS\n"
        "normOp00: -23 dBrms\nnormOp00: -20 dBrms\nnormOp00: -18 dBrms");
    every.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    every.preProcessing_Result = 6;
    every.id = 32769;
    QTest::newRow("every option") << kPresets << every << every;

    ScanPath targets = base;
    targets.postProcessing_Arguments = QStringLiteral("normOp00: -20 dBrms\nnormOp00: -16 LUFS");
    ScanPath targetsBack = base;
    targetsBack.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS\nnormOp00: -20 dBrms");
    QTest::newRow("targets in table order") << kPresets << targets << targetsBack;

    ScanPath odd = base;
    odd.postProcessing_Arguments = QStringLiteral("NORMOP00: -18 dbrms\n\nnormOp00: -99 LUFS\nnormOp00: -18 dbrms");
    ScanPath oddBack = base;
    oddBack.postProcessing_Arguments = QStringLiteral("normOp00: -18 dBrms");
    QTest::newRow("targets ignore case, unknown lines dropped") << kPresets << odd << oddBack;

    ScanPath speech = base;
    speech.preProcessing_Arguments = QStringLiteral("nredOp00: -stmlength 0.5 -mtslength 2.0");
    QTest::newRow("speech with music") << kPresets << speech << speech;

    ScanPath custom = base;
    custom.preProcessing_Arguments = QStringLiteral("nredOp00: -stmlength 0.7 -mtslength 1.5");
    QTest::newRow("custom noise values") << kPresets << custom << custom;

    for (const char* unknown : {"", "nredOp00: loud", "two lines\nof garbage"}) {
        ScanPath none = base;
        none.preProcessing_Arguments = QString::fromLatin1(unknown);
        QTest::addRow("noise '%s' shows None", QByteArray(unknown).replace('\n', "\\n").constData())
            << kPresets << none << base;
    }

    for (const auto& [in, out] : {std::pair{0, 0}, {2, 2}, {6, 6}, {4, 0}, {3, 2}, {7, 2}}) {
        ScanPath result = base;
        result.preProcessing_Result = in;
        ScanPath back = base;
        back.preProcessing_Result = out;
        QTest::addRow("result %d stored as %d", in, out) << kPresets << result << back;
    }

    ScanPath noOutput = base;
    noOutput.outputPath.clear();
    ScanPath noOutputBack = base;
    noOutputBack.outputPath = base.path;
    QTest::newRow("empty output path becomes the watched folder") << kPresets << noOutput << noOutputBack;

    // Stored choices come back as they were stored.
    ScanPath disabled = base;
    disabled.enabled = false;
    QTest::newRow("disabled folder stays disabled") << kPresets << disabled << disabled;
    for (const char* rate : {"32", "64", "224"}) {
        ScanPath rare = base;
        rare.encodeToMP3_bitRate = QString::fromLatin1(rate);
        QTest::addRow("bit rate %s", rate) << kPresets << rare << rare;
    }

    ScanPath oddRate = base;
    oddRate.encodeToMP3_bitRate = QStringLiteral("200");
    ScanPath oddRateBack = base;
    oddRateBack.encodeToMP3_bitRate = QStringLiteral("96");
    QTest::newRow("unknown bit rate keeps the first item") << kPresets << oddRate << oddRateBack;

    ScanPath gonePreset = base;
    gonePreset.preset = "9: Gone";
    QTest::newRow("preset no longer offered stays") << kPresets << gonePreset << gonePreset;
    QTest::newRow("no presets known keeps the stored one") << QList<QByteArray>() << gonePreset << gonePreset;
}

void TestScanPathWidget::roundTrip()
{
    QFETCH(QList<QByteArray>, presets);
    QFETCH(ScanPath, input);
    QFETCH(ScanPath, expected);
    scanPathWidget panel;
    panel.setPresetNames(presets);
    panel.loadFrom(input);
    QCOMPARE(fields(stored(panel)), fields(expected));
    QCOMPARE(panel.spcID(), input.id);
}

void TestScanPathWidget::targetsAreShownByTheirLabels()
{
    scanPathWidget panel;
    ScanPath record = baseRecord();
    record.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS\nnormOp00: -20 dBrms");
    record.preProcessing_Arguments = QStringLiteral("nredOp00: -stmlength 0.5 -mtslength 2.0");
    panel.loadFrom(record);
    QCOMPARE(checkedTexts<QCheckBox>(panel), (QStringList{"-16 LUFS", "-20 dBrms"}));
    QCOMPARE(checkedTexts<QRadioButton>(panel), QStringList{"Speech with music"});

    record.postProcessing_Arguments.clear();
    scanPathWidget empty;
    empty.loadFrom(record);
    QCOMPARE(checkedTexts<QCheckBox>(empty), QStringList());
    QCOMPARE(stored(empty).postProcessing_Arguments, QString());
    QCOMPARE(namedChild<QLabel>(empty, "lblWatchedPath")->text(), record.path);
}

// The lines themselves are tested in tst_folderoptionlines; here the
// panel's edits feed them and a stored line fills them again.
void TestScanPathWidget::customNoiseValuesComeFromTheEdits()
{
    scanPathWidget panel;
    panel.loadFrom(baseRecord());
    namedChild<QLineEdit>(panel, "txtSpeechToMusic")->setText(QStringLiteral("9"));
    namedChild<QLineEdit>(panel, "txtMusicToSpeech")->setText(QStringLiteral("abc"));
    const QList<QRadioButton*> buttons = panel.findChildren<QRadioButton*>();
    const auto custom = std::find_if(buttons.begin(), buttons.end(),
                                     [](QRadioButton* b) { return b->text() == QLatin1String("Custom:"); });
    QVERIFY(custom != buttons.end());
    (*custom)->click();
    ScanPath record = stored(panel);
    QCOMPARE(record.preProcessing_Arguments, QStringLiteral("nredOp00: -stmlength 4 -mtslength 2"));

    record.preProcessing_Arguments = QStringLiteral("nredOp00: -mtslength 1 -stmlength abc");
    scanPathWidget reloaded;
    reloaded.loadFrom(record);
    QCOMPARE(checkedTexts<QRadioButton>(reloaded), QStringList{QStringLiteral("Custom:")});
    QCOMPARE(namedChild<QLineEdit>(reloaded, "txtSpeechToMusic")->text(), QStringLiteral("abc"));
    QCOMPARE(namedChild<QLineEdit>(reloaded, "txtMusicToSpeech")->text(), QStringLiteral("1"));
}

void TestScanPathWidget::deleteAfterSubmissionFollowsNrSuffix()
{
    scanPathWidget fresh;
    auto* suffix = namedChild<QRadioButton>(fresh, "rdoCreateNrSuffix");
    auto* replace = namedChild<QRadioButton>(fresh, "rdoReplaceOriginal");
    auto* remove = namedChild<QCheckBox>(fresh, "chkDeleteAfterSubmission");
    QVERIFY(suffix->isChecked());
    QVERIFY(remove->isEnabled());

    ScanPath record = baseRecord();
    record.preProcessing_Result = 0;
    fresh.loadFrom(record);
    QVERIFY(replace->isChecked());
    QVERIFY(!remove->isEnabled());
    suffix->click();
    QVERIFY(remove->isEnabled());
    remove->click();
    QCOMPARE(stored(fresh).preProcessing_Result, 6);
    // Replacing the original wins over a delete box that stays checked.
    replace->click();
    QVERIFY(!remove->isEnabled());
    QCOMPARE(stored(fresh).preProcessing_Result, 0);

    scanPathWidget two;
    record.preProcessing_Result = 2;
    two.loadFrom(record);
    QVERIFY(namedChild<QCheckBox>(two, "chkDeleteAfterSubmission")->isEnabled());
    QVERIFY(!namedChild<QCheckBox>(two, "chkDeleteAfterSubmission")->isChecked());

    // The noise buttons are exclusive among themselves only.
    two.findChildren<QRadioButton*>().first()->click();
    QVERIFY(namedChild<QRadioButton>(two, "rdoCreateNrSuffix")->isChecked());
}

void TestScanPathWidget::panelNumbersAndDeleteSignal()
{
    scanPathWidget first;
    scanPathWidget second;
    QVERIFY(first.widgetID() >= 1000);
    QCOMPARE(second.widgetID(), first.widgetID() + 1);

    ScanPath record = baseRecord();
    record.id = 32770;
    second.loadFrom(record);
    QSignalSpy spy(&second, &scanPathWidget::delete_clicked);
    namedChild<QToolButton>(second, "btnDelete")->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<scanPathWidget*>(), &second);
    QCOMPARE(spy.at(0).at(1).toInt(), second.widgetID());
    QCOMPARE(spy.at(0).at(2).toInt(), 32770);
}

void TestScanPathWidget::browsingSetsNativeFolder()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("chosen")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("out")));
    const QString chosen = dir.filePath(QStringLiteral("chosen"));
    scanPathWidget panel;
    ScanPath record = baseRecord();
    record.path = dir.path();
    record.outputPath = dir.filePath(QStringLiteral("out"));
    panel.loadFrom(record);

    for (const char* button : {"btnBrowseWatched", "btnBrowseOutput"}) {
        QString title;
        QString start;
        answerModal<QFileDialog>([&](QFileDialog* browser) {
            title = browser->windowTitle();
            start = browser->directory().absolutePath();
            chooseInFileDialog(browser, chosen);
        });
        namedChild<QToolButton>(panel, button)->click();
        QCOMPARE(start, button == QLatin1String("btnBrowseWatched") ? record.path : record.outputPath);
        QVERIFY2(title.startsWith(QLatin1String("Select ")), qPrintable(title));
    }
    const ScanPath back = stored(panel);
    QCOMPARE(back.path, QDir::toNativeSeparators(chosen));
    QCOMPARE(back.outputPath, QDir::toNativeSeparators(chosen));

    // A cancelled browser changes nothing.
    answerModal<QFileDialog>([](QFileDialog* browser) { browser->reject(); });
    namedChild<QToolButton>(panel, "btnBrowseOutput")->click();
    QCOMPARE(stored(panel).outputPath, QDir::toNativeSeparators(chosen));
}

void TestScanPathWidget::paintsGradientFromWindowColour()
{
    scanPathWidget panel;
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Window, QColor(0x32, 0x32, 0x32));
    panel.setPalette(palette);
    panel.resize(panel.minimumSizeHint());
    const QImage image = panel.grab().toImage();
    const int right = image.width() - 1;
    const int bottomRow = image.height() - 1;
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::darkGray));
    QCOMPARE(image.pixelColor(right, bottomRow), QColor(Qt::darkGray));
    // Just inside the border: lighter by 20 at the top, the window colour at the bottom.
    const QColor top = image.pixelColor(2, 1);
    const QColor bottom = image.pixelColor(2, bottomRow - 1);
    QVERIFY2(qAbs(top.red() - 0x46) <= 1 && top.red() == top.blue(), qPrintable(top.name()));
    QVERIFY2(qAbs(bottom.red() - 0x32) <= 1, qPrintable(bottom.name()));

    palette.setColor(QPalette::Window, QColor(250, 245, 240));
    panel.setPalette(palette);
    const QColor clamped = panel.grab().toImage().pixelColor(2, 1);
    QCOMPARE(clamped.red(), 255);
    QVERIFY2(qAbs(clamped.blue() - 255) <= 1 && clamped.green() >= 254, qPrintable(clamped.name()));
}

QTEST_MAIN(TestScanPathWidget)
#include "tst_scanpathwidget.moc"
