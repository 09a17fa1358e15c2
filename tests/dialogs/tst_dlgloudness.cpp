#include "audiofixtures.h"
#include "dropurls.h"
#include "modalanswer.h"
#include "peakyprogramme.h"

#include "audio/loudnessmeter.h"

#include "dialogs/dlgloudness.h"
#include "dialogs/loudnessplot.h"

#include <QCheckBox>
#include <QDir>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <cmath>
#include <memory>

namespace {

// Loudness of a 1 kHz stereo sine of peak `amplitude`.
double sineLufs(double amplitude)
{
    return 20.0 * std::log10(amplitude) - 0.03;
}

// The figure after `label` in a row, e.g. "LUFS: " or "TP: ".
double rowFigure(const QString& row, const QString& label)
{
    return row.section(label, 1).section(QLatin1Char(' '), 0, 0).toDouble();
}

} // namespace

// The loudness normaliser window on real files: rows with their results,
// targets, gains and output names, silent and unreadable files, a failing
// output, refusals while measuring or normalising, and the plot with the
// tooltip's peak, and the true-peak ceiling.
class TestDlgLoudness : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dropMeasuresWavFilesOnly();
    void normalizeWritesEveryAudibleFileOnce();
    void failuresAreShownAndLeftOut();
    void refusesWhileNormalizing();
    void stalledFileNeverHoldsTheWindow();
    void plotShowsTheSelectedFile();
    void ceilingHoldsTheTruePeak();

private:
    QString sine(const QString& name, double amplitude, double seconds = 2.0);
    void choose(const char* radioName);
    bool waitMeasured();
    bool runNormalize();
    QString expectedRow(const QString& path, double rms, double lufs) const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<dlgLoudness> window;
};

void TestDlgLoudness::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    window = std::make_unique<dlgLoudness>();
    window->show();
}

void TestDlgLoudness::cleanup()
{
    window.reset();
    dir.reset();
}

QString TestDlgLoudness::sine(const QString& name, double amplitude, double seconds)
{
    const QString path = dir->filePath(name);
    if (!fixtures::writeSine(path, seconds, 1000.0, amplitude, fixtures::Signal()))
        return {};
    return QDir::toNativeSeparators(path);
}

void TestDlgLoudness::choose(const char* radioName)
{
    window->findChild<QRadioButton*>(QLatin1String(radioName))->setChecked(true);
}

bool TestDlgLoudness::waitMeasured()
{
    return QTest::qWaitFor(
        [&] {
            for (int row = 0; row < window->rowCount(); ++row)
                if (!window->rowText(row).contains(QLatin1String(" | ")))
                    return false;
            return true;
        },
        30000);
}

bool TestDlgLoudness::runNormalize()
{
    window->findChild<QPushButton*>(QStringLiteral("btnNormalize"))->click();
    if (!window->isNormalizing())
        return false;
    return QTest::qWaitFor([&] { return !window->isNormalizing(); }, 60000);
}

void TestDlgLoudness::dropMeasuresWavFilesOnly()
{
    // Long enough for a loudness range.
    const QString a = sine(QStringLiteral("a.wav"), 0.1, 4.0);
    const QString mp3 = dir->filePath(QStringLiteral("b.mp3"));
    QFile::copy(a, mp3);
    dropUrlsOn(window.get(), {QUrl::fromLocalFile(a), QUrl::fromLocalFile(mp3)});
    QCOMPARE(window->rowCount(), 1);
    QCOMPARE(window->rowText(0), a);
    QVERIFY(waitMeasured());
    const QRegularExpression row(QStringLiteral("^(.*) \\| RMS: (-?\\d+\\.\\d) dB \\| LUFS: (-?\\d+\\.\\d) "
                                                "\\| LRA: (\\d+\\.\\d) LU \\| TP: (-?\\d+\\.\\d) dBTP$"));
    const QRegularExpressionMatch match = row.match(window->rowText(0));
    QVERIFY2(match.hasMatch(), qPrintable(window->rowText(0)));
    QCOMPARE(match.captured(1), a);
    QVERIFY(std::fabs(match.captured(2).toDouble() - 20.0 * std::log10(0.1 / std::sqrt(2.0))) <= 0.06);
    QVERIFY(std::fabs(match.captured(3).toDouble() - sineLufs(0.1)) <= 0.06);
    // The meter's own figures: a steady tone has no loudness range, its
    // true peak is its amplitude.
    LoudnessMeter meter(a.toUtf8(), "K-weighting", 0.4f);
    meter.collectReport(true);
    meter.measure();
    QCOMPARE(match.captured(4), QString::number(meter.report().loudnessRange, 'f', 1));
    QCOMPARE(match.captured(5), QString::number(meter.report().truePeak, 'f', 1));
    QCOMPARE(match.captured(5), QStringLiteral("-20.0"));
}

void TestDlgLoudness::normalizeWritesEveryAudibleFileOnce()
{
    // 0.1 reads about -20 LUFS: -14 LUFS needs a gain of about 2.
    const QString a = sine(QStringLiteral("a.wav"), 0.1);
    const QString quiet = sine(QStringLiteral("quiet.wav"), 0.01);
    const QString silent = dir->filePath(QStringLiteral("silent.wav"));
    QVERIFY(fixtures::writeSilence(silent, 1.0, fixtures::Signal()));
    for (const QString& path : {a, quiet, silent})
        window->add_filePath(path);
    QVERIFY(waitMeasured());
    // Silence has no loudness range and no peak; a 2 s file no range either.
    QVERIFY2(window->rowText(2).endsWith(QLatin1String("LUFS: -inf | LRA: n/a LU | TP: -inf dBTP")),
             qPrintable(window->rowText(2)));
    QVERIFY2(window->rowText(1).endsWith(QLatin1String(" | LRA: n/a LU | TP: -40.0 dBTP")), qPrintable(window->rowText(1)));

    choose("radioButton_2");
    QVERIFY(runNormalize());
    const QString aOut = QDir::toNativeSeparators(dir->filePath(QStringLiteral("a -14 LUFS.wav")));
    const QString quietOut = QDir::toNativeSeparators(dir->filePath(QStringLiteral("quiet -14 LUFS.wav")));
    const QString log = window->findChild<QTextEdit*>(QStringLiteral("txtEncoded"))->toPlainText();
    QCOMPARE(log, QStringLiteral("Encoding started...\n%1... \n OK\n%2... \n OK").arg(aOut, quietOut));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("silent -14 LUFS.wav"))));
    // The levels of the copies are tested in tst_loudnessrun.
    choose("radioButton_6");
    QVERIFY(runNormalize());
    QVERIFY(QFileInfo::exists(dir->filePath(QStringLiteral("quiet -20 dB RMS.wav"))));
}

void TestDlgLoudness::failuresAreShownAndLeftOut()
{
    const QString corrupt = QDir::toNativeSeparators(dir->filePath(QStringLiteral("corrupt.wav")));
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    const QString good = sine(QStringLiteral("good.wav"), 0.2);
    // A folder where the output should go: the renderer cannot write it.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("good -16 LUFS.wav")));
    window->add_filePath(corrupt);
    window->add_filePath(good);
    QVERIFY(waitMeasured());
    QVERIFY2(window->rowText(0).startsWith(corrupt + QStringLiteral(" | cannot be measured: Can't load file, error ")),
             qPrintable(window->rowText(0)));
    QVERIFY(runNormalize());
    const QString log = window->findChild<QTextEdit*>(QStringLiteral("txtEncoded"))->toPlainText();
    const QString out = QDir::toNativeSeparators(dir->filePath(QStringLiteral("good -16 LUFS.wav")));
    QVERIFY2(log.startsWith(QStringLiteral("Encoding started...\n%1... \n failed: ").arg(out)), qPrintable(log));
    QVERIFY(!log.contains(QLatin1String("corrupt")));
}

void TestDlgLoudness::refusesWhileNormalizing()
{
    window->add_filePath(sine(QStringLiteral("long.wav"), 0.2, 30.0));
    QVERIFY(waitMeasured());
    window->findChild<QPushButton*>(QStringLiteral("btnNormalize"))->click();
    QVERIFY(window->isNormalizing());
    auto* log = window->findChild<QTextEdit*>(QStringLiteral("txtEncoded"));
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(QLatin1String("... ")), 5000);
    // Normalize again, Clear and a drop change nothing.
    const QString before = log->toPlainText();
    window->findChild<QPushButton*>(QStringLiteral("btnNormalize"))->click();
    window->findChild<QPushButton*>(QStringLiteral("btnClear"))->click();
    dropUrlsOn(window.get(), {QUrl::fromLocalFile(sine(QStringLiteral("late.wav"), 0.2))});
    QCOMPARE(window->rowCount(), 1);
    QCOMPARE(log->toPlainText(), before);

    QString boxText;
    answerModal<QMessageBox>([&](QMessageBox* box) {
        boxText = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    window->close();
    QCOMPARE(boxText, QStringLiteral("Processing|Audio files are being normalized"));
    QVERIFY(window->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return !window->isNormalizing(); }, 60000));
    QVERIFY(log->toPlainText().endsWith(QLatin1String("\n OK")));
    window->close();
    QVERIFY(!window->isVisible());
}

void TestDlgLoudness::stalledFileNeverHoldsTheWindow()
{
    // A named pipe stands in for a file on a stalled share: its meter waits
    // in the middle of opening until someone writes to it.
    const QString pending = dir->filePath(QStringLiteral("pending.wav"));
    if (QProcess::execute(QStringLiteral("mkfifo"), {pending}) != 0)
        QSKIP("no named pipes here");
    // Not a regular file: refused at the drop.
    dropUrlsOn(window.get(), {QUrl::fromLocalFile(pending)});
    QCOMPARE(window->rowCount(), 0);

    window->add_filePath(pending);
    int boxes = 0;
    answerModal<QMessageBox>([&](QMessageBox* box) {
        boxes += box->text() == QLatin1String("A file is still being measured") ? 1 : 0;
        box->accept();
    });
    window->findChild<QPushButton*>(QStringLiteral("btnNormalize"))->click();
    QCOMPARE(boxes, 1);
    QVERIFY(!window->isNormalizing());
    // Clear, close and destruction abandon the measurement without waiting.
    window->findChild<QPushButton*>(QStringLiteral("btnClear"))->click();
    QCOMPARE(window->rowCount(), 0);
    window->add_filePath(pending);
    window->close();
    QVERIFY(!window->isVisible());
    window.reset();

    // Let the abandoned readers end: opening the pipe for writing releases
    // every reader waiting on it, and each then finds it empty and fails.
    QFile writer(pending);
    QVERIFY(writer.open(QIODevice::WriteOnly));
}

void TestDlgLoudness::plotShowsTheSelectedFile()
{
    // 3 s quiet then 5 s loud, with one near-full-scale sample.
    fixtures::Signal signal;
    std::vector<float> samples = fixtures::sine(3.0, 1000.0, 0.02, signal);
    const std::vector<float> loud = fixtures::sine(5.0, 1000.0, 0.1, signal);
    samples.insert(samples.end(), loud.begin(), loud.end());
    samples[1000] = 0.6f;
    const QString steps = QDir::toNativeSeparators(dir->filePath(QStringLiteral("steps.wav")));
    QVERIFY(fixtures::writeWav(steps, samples, signal));
    window->add_filePath(sine(QStringLiteral("plain.wav"), 0.1));
    window->add_filePath(steps);
    QVERIFY(waitMeasured());

    auto* plot = window->findChild<LoudnessPlot*>(QStringLiteral("plot"));
    auto* list = window->findChild<QListView*>(QStringLiteral("listView"));
    list->setCurrentIndex(list->model()->index(0, 0));
    QCOMPARE(plot->titleText(), QStringLiteral("plain.wav"));
    QCOMPARE(plot->curvePoints(QStringLiteral("Short-term")).size(), 17);
    list->setCurrentIndex(list->model()->index(1, 0));

    const QList<QPointF> shortTerm = plot->curvePoints(QStringLiteral("Short-term"));
    QCOMPARE(shortTerm.size(), 77);   // 0.4 s to 8.0 s every 0.1 s
    QVERIFY(std::fabs(shortTerm.first().x() - 0.4) < 1e-6);
    QVERIFY(std::fabs(shortTerm.last().x() - 8.0) < 1e-6);
    // Settled 3 s into each part; the loud part 14 dB above the quiet one.
    auto at = [&](double t) { return shortTerm[qsizetype(std::lround(t * 10.0)) - 4].y(); };
    QVERIFY2(std::fabs(at(3.0) - sineLufs(0.02)) < 0.3, qPrintable(QString::number(at(3.0))));
    QVERIFY2(std::fabs(at(7.5) - sineLufs(0.1)) < 0.1, qPrintable(QString::number(at(7.5))));
    const QList<QPointF> momentary = plot->curvePoints(QStringLiteral("Momentary"));
    QCOMPARE(momentary.size(), 77);
    QVERIFY(std::fabs(momentary[qsizetype(34 - 4)].y() - sineLufs(0.1)) < 0.1);

    const double lufs = rowFigure(window->rowText(1), QStringLiteral("LUFS: "));
    QVERIFY(std::fabs(plot->curvePoints(QStringLiteral("Integrated")).first().y() - lufs) < 0.06);
    QVERIFY(std::fabs(plot->curvePoints(QStringLiteral("Target")).first().y() + 16.0) < 0.06);
    QCOMPARE(plot->timeLabels().first(), QStringLiteral("0:00"));
    QVERIFY(plot->timeLabels().contains(QStringLiteral("0:05")));
    QCOMPARE(LoudnessPlot::minutesSeconds(754.4), QStringLiteral("12:34"));

    // The loud sample passes full scale at -14 LUFS, not at -23 dB RMS.
    choose("radioButton_2");
    QVERIFY2(plot->titleText().endsWith(QLatin1String(LoudnessPlot::kClippingWarning)), qPrintable(plot->titleText()));
    const double gainDb = -14.0 - lufs;
    const QString tip = window->rowToolTip(1);
    const QString afterGain = tip.section(QStringLiteral(": "), -1);
    QVERIFY2(std::fabs(afterGain.section(QLatin1Char(' '), 0, 0).toDouble() - (20.0 * std::log10(0.6) + gainDb)) < 0.11,
             qPrintable(tip));
    // The true peak after the gain: the row's true peak moved by the same gain.
    QVERIFY2(std::fabs(afterGain.section(QStringLiteral(", "), 1).section(QLatin1Char(' '), 0, 0).toDouble()
                       - (rowFigure(window->rowText(1), QStringLiteral("TP: ")) + gainDb)) < 0.11,
             qPrintable(tip));
    choose("radioButton_5");
    QCOMPARE(plot->titleText(), QStringLiteral("steps.wav"));
    QVERIFY(std::fabs(plot->curvePoints(QStringLiteral("Target")).first().y() - (lufs - 23.0 - rowFigure(window->rowText(1), QStringLiteral("RMS: ")))) < 0.1);
    // The row text itself is unchanged by all this.
    QVERIFY(window->rowText(1).startsWith(steps + QStringLiteral(" | RMS: ")));
    // An RMS target's line is labelled with the loudness it means for this file.
    const double targetLufs = plot->curvePoints(QStringLiteral("Target")).first().y();
    QCOMPARE(plot->curveNames().last(),
             QStringLiteral("Target -23 dB RMS = %1 LUFS here").arg(targetLufs, 0, 'f', 1));

    // A silent file: no gain, so no target line, no clipping warning, a tooltip that says so.
    const QString silent = QDir::toNativeSeparators(dir->filePath(QStringLiteral("silent.wav")));
    QVERIFY(fixtures::writeSilence(silent, 2.0, signal));
    window->add_filePath(silent);
    QVERIFY(waitMeasured());
    choose("radioButton_2");
    list->setCurrentIndex(list->model()->index(2, 0));
    QCOMPARE(plot->titleText(), QStringLiteral("silent.wav"));
    QVERIFY(plot->curvePoints(QStringLiteral("Target")).isEmpty());
    QCOMPARE(window->rowToolTip(2), QStringLiteral("silent"));

    // Clear leaves an empty plot that still has its time axis.
    window->findChild<QPushButton*>(QStringLiteral("btnClear"))->click();
    QVERIFY(plot->curveNames().isEmpty());
    QVERIFY(plot->timeLabels().size() > 1);
}

void TestDlgLoudness::ceilingHoldsTheTruePeak()
{
    // At -14 LUFS the bursts of the first file would pass -1 dBTP by a few
    // dB, those of the second by far more than 12 dB; the third stays under.
    const QStringList peaky = fixtures::writePeakyPair(dir->path());
    QVERIFY(!peaky.isEmpty());
    const QString& few = peaky.at(0);
    const QString& many = peaky.at(1);
    for (const QString& path : {few, many, sine(QStringLiteral("plain.wav"), 0.1)})
        window->add_filePath(path);
    QVERIFY(waitMeasured());
    choose("radioButton_2");

    // The plot marks the ceiling only while the box is ticked.
    auto* plot = window->findChild<LoudnessPlot*>(QStringLiteral("plot"));
    auto* list = window->findChild<QListView*>(QStringLiteral("listView"));
    auto* box = window->findChild<QCheckBox*>(QStringLiteral("chkTruePeakCeiling"));
    QCOMPARE(box->text(), QStringLiteral("Limit true peak to -1 dBTP"));
    list->setCurrentIndex(list->model()->index(0, 0));
    QVERIFY(plot->curvePoints(QStringLiteral("Ceiling")).isEmpty());
    box->setChecked(true);
    QCOMPARE(plot->curvePoints(QStringLiteral("Ceiling")).first().y(), -1.0);
    QVERIFY2(plot->titleText().endsWith(QLatin1String(LoudnessPlot::kLimitingNote)), qPrintable(plot->titleText()));
    list->setCurrentIndex(list->model()->index(2, 0));
    QCOMPARE(plot->titleText(), QStringLiteral("plain.wav"));

    // The box reaches the run: the second file is limited (the levels are
    // tested in tst_loudnessrun).
    QVERIFY(runNormalize());
    const QStringList log = window->findChild<QTextEdit*>(QStringLiteral("txtEncoded"))->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(log.value(2), QStringLiteral(" OK"));
    QVERIFY2(log.value(4).startsWith(QLatin1String(" OK, but ")), qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(log.value(6), QStringLiteral(" OK"));
    QVERIFY(QDir(dir->path()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());
}

QTEST_MAIN(TestDlgLoudness)
#include "tst_dlgloudness.moc"
