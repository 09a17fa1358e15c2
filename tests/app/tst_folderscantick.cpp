#include "../dialogs/modalanswer.h"
#include "scanfixture.h"

#include "app/newfilesdialogs.h"
#include "app/severalfilesdrop.h"
#include "dialogs/dlgaddmultiplefileswrapper.h"
#include "dialogs/dlgaddmultplefiles.h"
#include "driver/account.h"
#include "driver/queuecommands.h"
#include "settings/folderwatcher.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QByteArray kMusic = "2: Music -14 LUFS";

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> list;
    for (const QString& path : paths)
        list.append(QUrl::fromLocalFile(path));
    return list;
}

void pressButton(QDialog* dialog, QDialogButtonBox::StandardButton which)
{
    dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(which)->click();
}

QList<QComboBox*> presetBoxes(QDialog* dialog)
{
    QList<QComboBox*> boxes;
    for (QComboBox* box : dialog->findChildren<QComboBox*>()) {
        if (box->property("NAME").toString() == QLatin1String("comboPreset"))
            boxes.append(box);
    }
    return boxes;
}

} // namespace

// The folder-scanner tick with the window's new-files dialogs, and several
// dropped files through the dialog, against a queue manager logged in to
// the real service (for its presets); the cycle is not run further, so
// queued files stay Waiting and can be inspected. What the tick does
// without a dialog is tested without a window (tests/driver).
class TestFolderScanTick : public QObject, private ScanFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogFolderCollectsItsFiles();
    void cancelledDialogQueuesNothing();
    void unknownPresetSwitchesToTheDialog();
    void severalDroppedFilesGoThroughTheDialog();
    void droppedFoldersAreNamed();
    void severalDroppedFilesRefuseAnUnwritableDestination();
    void answeredDialogRefusesAnUnwritableDestination();
    void dialogOfARecursiveFolderKeepsTheSubfolder();

private:
    FolderScanTick::Outcome tick() { return tickRead(); }
    dlgAddMultipleFiles_Wrapper* onlyDialog();
    // Drops the files on the window's several-files path.
    bool dropSeveral(const QList<QUrl>& urls, const QList<QUrl>& destUrls = {})
    {
        const Account account(*m_settings, *m_queue);
        QueueCommands commands(*m_queue, {});
        return addSeveralAudioFiles(nullptr, account, commands, urls, destUrls);
    }

    std::unique_ptr<NewFilesDialogs> m_dialogs;
};

void TestFolderScanTick::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(startService());
}

void TestFolderScanTick::init()
{
    setUp();
    m_dialogs = std::make_unique<NewFilesDialogs>(m_settings.get(), nullptr);
    makeTick(m_dialogs.get());
    // Each tick here is called by hand; change notification would scan in
    // between (tst_folderevents covers it).
    m_tick->watcher().setEnabled(false);
    QVERIFY(logIn());
}

void TestFolderScanTick::cleanup()
{
    m_tick.reset();
    m_dialogs.reset();
    tearDown();
}

dlgAddMultipleFiles_Wrapper* TestFolderScanTick::onlyDialog()
{
    const auto& dialogs = m_dialogs->dialogs();
    return dialogs.size() == 1 ? dialogs.front().get() : nullptr;
}

void TestFolderScanTick::dialogFolderCollectsItsFiles()
{
    QDir(m_dir->path()).mkpath(QStringLiteral("out"));
    ScanPath& folder = addFolder(QStringLiteral("in"), QStringLiteral("out"));
    folder.showDialog = true;
    folder.outputSuffix = QStringLiteral("_{presetName}");
    writeWav(QStringLiteral("in/a.wav"));
    tick();
    dlgAddMultipleFiles_Wrapper* wrapper = onlyDialog();
    QVERIFY(wrapper && wrapper->isOpen());
    QVERIFY(m_queue->snapshot().isEmpty());
    QVERIFY(m_queued.isEmpty());

    // Found while the dialog is open: a new row at once.
    writeWav(QStringLiteral("in/b.wav"));
    tick();
    QCOMPARE(m_dialogs->dialogs().size(), size_t(1));
    QList<QComboBox*> boxes = presetBoxes(wrapper->dialog());
    QCOMPARE(boxes.size(), 2);
    for (QComboBox* box : boxes)
        box->setCurrentText(QString::fromUtf8(kMusic));
    wrapper->dialog()->findChild<QCheckBox*>(QStringLiteral("chkShowDialog"))->setChecked(true);
    pressButton(wrapper->dialog(), QDialogButtonBox::Ok);

    tick();
    const QList<QueueFile*> queued = m_queue->snapshot();
    QCOMPARE(queued.size(), 2);
    QCOMPARE(queued[1]->destFile, native(QStringLiteral("out/b_2_ Music -14 LUFS.wav")).toUtf8());
    QCOMPARE(queued[1]->presetName, kMusic);
    QCOMPARE(queued[1]->priority, 100);
    QVERIFY(queued[1]->options.fromWatchFolder);
    // Every file got Music: it becomes the folder's preset, and the folder
    // asked not to show the dialog again.
    const ScanPath stored = m_settings->scanPaths().first();
    QCOMPARE(stored.preset, kMusic);
    QVERIFY(!stored.showDialog);
    QCOMPARE(queued[1]->options.preset, QString::fromUtf8(kMusic));
}

void TestFolderScanTick::cancelledDialogQueuesNothing()
{
    ScanPath& folder = addFolder(QStringLiteral("in"));
    folder.showDialog = true;
    writeWav(QStringLiteral("in/a.wav"));
    tick();
    dlgAddMultipleFiles_Wrapper* wrapper = onlyDialog();
    QVERIFY(wrapper && wrapper->isOpen());
    pressButton(wrapper->dialog(), QDialogButtonBox::Cancel);
    // A file arriving before the answer is collected waits for the next dialog.
    writeWav(QStringLiteral("in/late.wav"));

    tick();
    QVERIFY(m_queue->snapshot().isEmpty());
    const ScanPath stored = m_settings->scanPaths().first();
    QCOMPARE(stored.preset, kSpeech);
    QVERIFY(stored.showDialog);
    QTRY_VERIFY(wrapper->isOpen());
    QCOMPARE(presetBoxes(wrapper->dialog()).size(), 1);
    QCOMPARE(stored.scannedFiles.size(), 2);
    pressButton(wrapper->dialog(), QDialogButtonBox::Cancel);
    tick();
    QVERIFY(!wrapper->isOpen());
}

void TestFolderScanTick::unknownPresetSwitchesToTheDialog()
{
    addFolder(QStringLiteral("in"), QString(), "7: Retired preset");
    writeWav(QStringLiteral("in/a.wav"));
    tick();
    QVERIFY(m_settings->scanPaths().first().showDialog);
    dlgAddMultipleFiles_Wrapper* wrapper = onlyDialog();
    QVERIFY(wrapper && wrapper->isOpen());
    // The unknown preset is not offered; the row proposes the first preset.
    QCOMPARE(presetBoxes(wrapper->dialog()).first()->currentText(), QString::fromUtf8(m_queue->presets().first()));
    pressButton(wrapper->dialog(), QDialogButtonBox::Ok);
    tick();
    QCOMPARE(m_queue->snapshot().size(), 1);
    const ScanPath stored = m_settings->scanPaths().first();
    QCOMPARE(stored.preset, m_queue->presets().first());
    QVERIFY(stored.showDialog);
}

void TestFolderScanTick::severalDroppedFilesGoThroughTheDialog()
{
    QDir(m_dir->path()).mkpath(QStringLiteral("one"));
    QDir(m_dir->path()).mkpath(QStringLiteral("two"));
    const QString a = writeWav(QStringLiteral("one/a.wav"));
    const QString b = writeWav(QStringLiteral("one/b.wav"));
    const QString c = writeWav(QStringLiteral("two/c.wav"));

    QString refused;
    answerModal<DlgAddMultpleFiles>([&refused](DlgAddMultpleFiles* dialog) {
        QVERIFY(!dialog->isMinimized());
        dialog->findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->setChecked(true);
        answerModal<QMessageBox>([&refused](QMessageBox* box) {
            refused = box->windowTitle() + QLatin1Char('|') + box->text();
            box->accept();
        });
        pressButton(dialog, QDialogButtonBox::Ok);
    });
    // A dropped folder is no audio file: it gets no row, and the box names it.
    const QString folder = native(QStringLiteral("two"));
    QVERIFY(dropSeveral(urls({a, b, folder, c})));
    QCOMPARE(refused, QStringLiteral("Error adding files|\nFile: ") + folder + QStringLiteral("\n- is a folder, not an audio file."));
    const QList<QueueFile*> queued = m_queue->snapshot();
    QCOMPARE(queued.size(), 3);
    const QByteArray preset = m_queue->presets().first();
    QCOMPARE(queued[2]->srcFile, c.toUtf8());
    QCOMPARE(queued[2]->destFile, native(QStringLiteral("two/c-1_ Speech -16 LUFS.wav")).toUtf8());
    QCOMPARE(queued[2]->presetName, preset);
    QCOMPARE(queued[2]->priority, 10);
    QVERIFY(queued[2]->options.fromWatchFolder);
    QCOMPARE(queued[2]->options.watchFolderPath, native(QStringLiteral("one")));

    // Without "Save in original location" every result goes to the first
    // file's folder; a cancelled dialog queues nothing.
    answerModal<DlgAddMultpleFiles>([](DlgAddMultpleFiles* dialog) { pressButton(dialog, QDialogButtonBox::Ok); });
    QVERIFY(dropSeveral(urls({a, c})));
    QCOMPARE(m_queue->snapshot().at(4)->destFile,
             native(QStringLiteral("one/c-1_ Speech -16 LUFS.wav")).toUtf8());
    answerModal<DlgAddMultpleFiles>([](DlgAddMultpleFiles* dialog) { dialog->reject(); });
    QVERIFY(!dropSeveral(urls({a, c})));
    QCOMPARE(m_queue->snapshot().size(), 5);
}

void TestFolderScanTick::droppedFoldersAreNamed()
{
    const QString one = native(QStringLiteral("one"));
    const QString two = native(QStringLiteral("two"));
    QDir().mkpath(one);
    QDir().mkpath(two);
    QString refused;
    answerModal<QMessageBox>([&refused](QMessageBox* box) {
        refused = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    QVERIFY(!dropSeveral(urls({one, two})));
    QCOMPARE(refused, QStringLiteral("Error adding files|\nFile: ") + one + QStringLiteral("\n- is a folder, not an audio file.")
                          + QStringLiteral("\nFile: ") + two + QStringLiteral("\n- is a folder, not an audio file."));
    QVERIFY(m_queue->snapshot().isEmpty());
}

void TestFolderScanTick::severalDroppedFilesRefuseAnUnwritableDestination()
{
    const QString readOnly = QStringLiteral("/proc/sys");
    if (QFileInfo(readOnly).isWritable())
        QSKIP("no read-only folder on this machine");
    QDir(m_dir->path()).mkpath(QStringLiteral("one"));
    const QString a = writeWav(QStringLiteral("one/a.wav"));
    const QString b = writeWav(QStringLiteral("one/b.wav"));
    QString refused;
    answerModal<DlgAddMultpleFiles>([&refused](DlgAddMultpleFiles* dialog) {
        answerModal<QMessageBox>([&refused](QMessageBox* box) {
            refused = box->windowTitle() + QLatin1Char('|') + box->text();
            box->accept();
        });
        pressButton(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(dropSeveral(urls({a, b}), urls({readOnly + QStringLiteral("/a.wav")})));
    const QString reason = QStringLiteral("\n- The destination folder is not writable.");
    QCOMPARE(refused, QStringLiteral("Error adding files|\nFile: ") + a + reason + QStringLiteral("\nFile: ") + b + reason);
    QVERIFY(m_queue->snapshot().isEmpty());
}

void TestFolderScanTick::answeredDialogRefusesAnUnwritableDestination()
{
    // A folder nobody may write to, not even root: the kernel's settings tree.
    const QString readOnly = QStringLiteral("/proc/sys");
    if (QFileInfo(readOnly).isWritable())
        QSKIP("no read-only folder on this machine");
    ScanPath& folder = addFolder(QStringLiteral("in"));
    folder.outputPath = readOnly;
    folder.showDialog = true;
    const QString a = writeWav(QStringLiteral("in/a.wav"));
    tick();
    dlgAddMultipleFiles_Wrapper* wrapper = onlyDialog();
    QVERIFY(wrapper && wrapper->isOpen());
    pressButton(wrapper->dialog(), QDialogButtonBox::Ok);
    tick();
    QCOMPARE(m_refusals, QList<QStringList>{{a + QStringLiteral(": The destination folder is not writable.")}});
    QVERIFY(m_queue->snapshot().isEmpty());
}

// A file found in a subfolder of a recursive folder is offered under its
// subfolder of the output folder (not the output's root), and accepting the
// dialog creates that subfolder, as a quick add does.
void TestFolderScanTick::dialogOfARecursiveFolderKeepsTheSubfolder()
{
    QDir(m_dir->path()).mkpath(QStringLiteral("out"));
    QDir(m_dir->path()).mkpath(QStringLiteral("in/live/day1"));
    ScanPath& folder = addFolder(QStringLiteral("in"), QStringLiteral("out"));
    folder.recursive = true;
    folder.showDialog = true;
    folder.outputSuffix = QStringLiteral("_x");
    writeWav(QStringLiteral("in/top.wav"));
    writeWav(QStringLiteral("in/live/day1/a.wav"));
    tick();
    dlgAddMultipleFiles_Wrapper* wrapper = onlyDialog();
    QVERIFY(wrapper && wrapper->isOpen());
    QStringList shown;
    for (QLineEdit* edit : wrapper->dialog()->findChildren<QLineEdit*>()) {
        if (edit->property("NAME").toString() == QLatin1String("txtSaveAs"))
            shown << edit->text();
    }
    shown.sort();
    QCOMPARE(shown, QStringList({QDir::toNativeSeparators(QStringLiteral("live/day1/a.wav")), QStringLiteral("top.wav")}));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("out/live"))));
    pressButton(wrapper->dialog(), QDialogButtonBox::Ok);

    tick();
    QStringList destinations;
    for (const QueueFile* file : m_queue->snapshot())
        destinations << QString::fromUtf8(file->destFile);
    destinations.sort();
    QCOMPARE(destinations, QStringList({native(QStringLiteral("out/live/day1/a_x.wav")),
                                        native(QStringLiteral("out/top_x.wav"))}));
    QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("out/live/day1"))).isDir());
}

QTEST_MAIN(TestFolderScanTick)
#include "tst_folderscantick.moc"
