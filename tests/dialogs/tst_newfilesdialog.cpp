#include "dialogs/dlgaddmultiplefileswrapper.h"
#include "dialogs/dlgaddmultplefiles.h"
#include "modalanswer.h"
#include "tabcycle.h"
#include "settings/platform.h"
#include "settings/scanpath.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QWidget*> rowWidgets(QDialog* dialog, const char* name)
{
    QList<QWidget*> found;
    const auto widgets = dialog->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (widget->property("NAME").toString() == QLatin1String(name))
            found.append(widget);
    }
    std::sort(found.begin(), found.end(),
              [](QWidget* a, QWidget* b) { return a->property("ID").toInt() < b->property("ID").toInt(); });
    return found;
}

void pressOk(QDialog* dialog)
{
    dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
}

// Answers the next message box and remembers its title and text.
struct MessageBoxCatcher {
    QString title;
    QString text;
    void arm()
    {
        answerModal<QMessageBox>([this](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            box->close();
        });
    }
};

ScanPath folder(const QString& in, const QString& out, const QByteArray& preset = "Voice")
{
    ScanPath scanPath;
    scanPath.path = QDir::toNativeSeparators(in);
    scanPath.outputPath = QDir::toNativeSeparators(out);
    scanPath.preset = preset;
    return scanPath;
}

// Sets the preset box of every row, in row order.
void choosePresets(QDialog* dialog, const QStringList& presets)
{
    const auto combos = rowWidgets(dialog, "comboPreset");
    QCOMPARE(combos.size(), presets.size());
    for (int i = 0; i < combos.size(); ++i)
        qobject_cast<QComboBox*>(combos[i])->setCurrentText(presets[i]);
}

} // namespace

class TestNewFilesDialog : public QObject {
    Q_OBJECT

private slots:
    void init();

    void rowsBecomeNamedDestinations();
    void uncheckedRowsGiveNothing();
    void okChecksFolderAndFields();
    void modesShowTheirOwnOptions();
    void rowsComeFirstWhenTabbing();
    void rowsKeepTheirOwnSourceFolder();

    void splitsFolderKeys();
    void wrapperKeepsRowsUntilShown();
    void wrapperWaitsForResultsToBeCollected();
    void cancelClearsResults();
    void dominantPreset_data();
    void dominantPreset();
    void dontShowAgainIsReported();

private:
    QTemporaryDir m_dir;
    QString m_in;
    QString m_out;
};

void TestNewFilesDialog::init()
{
    QVERIFY(m_dir.isValid());
    m_in = m_dir.filePath(QStringLiteral("in"));
    m_out = m_dir.filePath(QStringLiteral("out"));
    QDir().mkpath(m_in);
    QDir().mkpath(m_out);
}

void TestNewFilesDialog::rowsBecomeNamedDestinations()
{
    DlgAddMultpleFiles dialog(nullptr, false);
    dialog.setPresetNames({"Music", "Voice"});
    dialog.setFolder(folder(m_in, m_out));
    dialog.addRow(m_in + QStringLiteral("/take.wav"), m_in + QStringLiteral("/take.wav"), QStringLiteral("Voice"));
    // The proposed preset is matched exactly; another letter case falls
    // back to the first preset.
    dialog.addRow(m_in + QStringLiteral("/b.c.wav"), m_in + QStringLiteral("/b.c.wav"), QStringLiteral("voice"));

    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lblInfo"))->text(),
             QStringLiteral("Source folder: ") + QDir::toNativeSeparators(m_in));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lblDestFolder"))->text(),
             QStringLiteral("Save to: ") + QDir::toNativeSeparators(m_out));
    QCOMPARE(dialog.suffixText(), QStringLiteral("-{presetName}"));

    const QList<NewFileEntry> results = dialog.getResults();
    QCOMPARE(results.size(), 2);
    QCOMPARE(results[0].source, QDir::toNativeSeparators(m_in + QStringLiteral("/take.wav")));
    QCOMPARE(results[0].destination, QDir::toNativeSeparators(m_out + QStringLiteral("/take-Voice.wav")));
    QCOMPARE(results[0].preset, QStringLiteral("Voice"));
    QCOMPARE(results[0].priority, 100);
    QVERIFY(results[0].selected);
    QCOMPARE(results[1].destination, QDir::toNativeSeparators(m_out + QStringLiteral("/b.c-Music.wav")));
    QCOMPARE(results[1].preset, QStringLiteral("Music"));
}

void TestNewFilesDialog::uncheckedRowsGiveNothing()
{
    DlgAddMultpleFiles dialog(nullptr, false);
    dialog.setPresetNames({"Voice"});
    dialog.setFolder(folder(m_in, m_out));
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        dialog.addRow(m_in + QLatin1Char('/') + QLatin1String(name), m_in + QLatin1Char('/') + QLatin1String(name),
                      QStringLiteral("Voice"));
    const auto checks = rowWidgets(&dialog, "chkFilename");
    QCOMPARE(checks.size(), 3);
    qobject_cast<QCheckBox*>(checks[1])->setChecked(false);
    const QList<NewFileEntry> results = dialog.getResults();
    QCOMPARE(results.size(), 2);
    QVERIFY(results[1].source.endsWith(QStringLiteral("c.wav")));

    for (QWidget* check : checks)
        qobject_cast<QCheckBox*>(check)->setChecked(false);
    dialog.show();
    pressOk(&dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.getResults().isEmpty());
}

void TestNewFilesDialog::okChecksFolderAndFields()
{
    MessageBoxCatcher catcher;
    const QString missing = m_dir.filePath(QStringLiteral("gone"));
    {
        DlgAddMultpleFiles dialog(nullptr, false);
        dialog.setPresetNames({"Voice"});
        dialog.setFolder(folder(m_in, missing));
        dialog.addRow(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
        dialog.show();
        catcher.arm();
        pressOk(&dialog);
        QCOMPARE(catcher.title, QStringLiteral("Invalid path"));
        QCOMPARE(catcher.text, QStringLiteral("Folder doesn't exist: ") + QDir::toNativeSeparators(missing));
        QVERIFY(dialog.isVisible());
    }
    {
        // No presets at all: the row's preset box has no current item.
        DlgAddMultpleFiles dialog(nullptr, false);
        dialog.setFolder(folder(m_in, m_out));
        dialog.addRow(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
        dialog.show();
        catcher.arm();
        pressOk(&dialog);
        QCOMPARE(catcher.title, QStringLiteral("Validation Error"));
        QCOMPARE(catcher.text, QStringLiteral("Please fill in all required fields:\nPreset combobox\n"));
        QVERIFY(dialog.isVisible());
    }
    {
        // Saving next to the sources needs no existing save-to folder.
        DlgAddMultpleFiles dialog(nullptr, true);
        dialog.setPresetNames({"Voice"});
        dialog.setFolder(folder(missing, missing));
        dialog.addRow(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
        dialog.findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->setChecked(true);
        dialog.show();
        pressOk(&dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.saveInOriginalLocation());
    }
}

void TestNewFilesDialog::modesShowTheirOwnOptions()
{
    DlgAddMultpleFiles manual(nullptr, true);
    manual.show();
    QVERIFY(!manual.findChild<QLabel*>(QStringLiteral("lblInfo"))->isVisible());
    QVERIFY(!manual.findChild<QCheckBox*>(QStringLiteral("chkShowDialog"))->isVisible());
    QVERIFY(manual.findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->isVisible());

    DlgAddMultpleFiles watched(nullptr, false);
    watched.show();
    QVERIFY(watched.findChild<QLabel*>(QStringLiteral("lblInfo"))->isVisible());
    QVERIFY(watched.findChild<QCheckBox*>(QStringLiteral("chkShowDialog"))->isVisible());
    QVERIFY(!watched.findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->isVisible());
    QCOMPARE(watched.findChild<QLayout*>(QStringLiteral("horizontalLayout_4"))->count(), 0);
}

// Rows are added after the form is built; Tab still reaches them right
// after the list, before the options under it.
void TestNewFilesDialog::rowsComeFirstWhenTabbing()
{
    DlgAddMultpleFiles dialog(nullptr, true);
    dialog.setPresetNames({"Music", "Voice"});
    for (const QString& name : {QStringLiteral("a.wav"), QStringLiteral("b.wav")})
        dialog.addRow(m_in + QLatin1Char('/') + name, m_out + QLatin1Char('/') + name, QStringLiteral("Voice"));
    dialog.show();
    const QList<QWidget*> tabbing = tabCycle(dialog.findChild<QWidget*>(QStringLiteral("scrollArea")));
    const QList<QWidget*> checks = rowWidgets(&dialog, "chkFilename");
    const QList<QWidget*> presets = rowWidgets(&dialog, "comboPreset");
    QCOMPARE(tabbing.mid(0, 5), QList<QWidget*>({checks[0], presets[0], checks[1], presets[1],
                                                  dialog.findChild<QWidget*>(QStringLiteral("chkSaveToOriginalLocation"))}));
}

void TestNewFilesDialog::rowsKeepTheirOwnSourceFolder()
{
    // Dropped files may come from several folders; each row keeps its own.
    const QString other = m_dir.filePath(QStringLiteral("other"));
    DlgAddMultpleFiles dialog(nullptr, true);
    dialog.setPresetNames({"Voice"});
    dialog.setFolder(folder(m_in, m_in));
    dialog.addRow(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
    dialog.addRow(other + QStringLiteral("/b.wav"), other + QStringLiteral("/b.wav"), QStringLiteral("Voice"));
    const QList<NewFileEntry> results = dialog.getResults();
    QCOMPARE(results.size(), 2);
    QCOMPARE(results[1].source, QDir::toNativeSeparators(other + QStringLiteral("/b.wav")));
    QCOMPARE(results[1].destination, QDir::toNativeSeparators(m_in + QStringLiteral("/b-Voice.wav")));
}

void TestNewFilesDialog::splitsFolderKeys()
{
    const ScanPath scanPath = folder(QStringLiteral("/music/in"), QStringLiteral("/music/out"), "12: Voice");
    const FolderKeyParts parts = splitFolderKey(scanPath.duplicateKey());
    QCOMPARE(parts.path, QStringLiteral("/music/in"));
    QCOMPARE(parts.outputPath, QStringLiteral("/music/out"));
    QCOMPARE(parts.preset, QByteArray("12: Voice"));

    const FolderKeyParts broken = splitFolderKey(QStringLiteral("/music/in\n/music/out"));
    QVERIFY(broken.path.isEmpty() && broken.outputPath.isEmpty() && broken.preset.isEmpty());
    QVERIFY(splitFolderKey(QStringLiteral("a\nb\nc\nd")).path.isEmpty());

    QVERIFY(sameFolderKey(scanPath.duplicateKey(), QStringLiteral("/music/in\n/music/out\n12: VOICE")));
    QCOMPARE(sameFolderKey(scanPath.duplicateKey(), QStringLiteral("/Music/in\n/music/out\n12: Voice")),
             platform::pathCaseSensitivity() == Qt::CaseInsensitive);
}

void TestNewFilesDialog::wrapperKeepsRowsUntilShown()
{
    dlgAddMultipleFiles_Wrapper wrapper;
    const ScanPath scanPath = folder(m_in, m_out);
    wrapper.setFolder(scanPath);
    wrapper.setPresetNames({"Voice", "Music"});
    QCOMPARE(wrapper.folderKey(), scanPath.duplicateKey());
    QVERIFY(!wrapper.show(nullptr, scanPath));

    wrapper.addFile(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
    wrapper.addFile(m_in + QStringLiteral("/b.wav"), m_in + QStringLiteral("/b.wav"), QStringLiteral("Music"));
    QVERIFY(wrapper.hasPendingFiles());
    QVERIFY(wrapper.show(nullptr, scanPath));
    QVERIFY(wrapper.isOpen());
    QVERIFY(!wrapper.hasPendingFiles());
    QVERIFY(!wrapper.show(nullptr, scanPath));
    QDialog* dialog = wrapper.dialog();
    QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
    QCOMPARE(rowWidgets(dialog, "chkFilename").size(), 2);

    // A file found while the dialog is open appears at once.
    wrapper.addFile(m_in + QStringLiteral("/c.wav"), m_in + QStringLiteral("/c.wav"), QStringLiteral("Voice"));
    QCOMPARE(rowWidgets(dialog, "chkFilename").size(), 3);
    QVERIFY(!wrapper.hasPendingFiles());

    QPointer<QDialog> watch(dialog);
    pressOk(dialog);
    QVERIFY(!wrapper.isOpen());
    QVERIFY(wrapper.wasAccepted());
    QTRY_VERIFY(watch.isNull());
    QVERIFY(wrapper.takeResultsReady());
    QVERIFY(!wrapper.takeResultsReady());
    const QList<NewFileEntry> results = wrapper.takeResults();
    QCOMPARE(results.size(), 3);
    QCOMPARE(results[1].preset, QStringLiteral("Music"));
    QCOMPARE(results[1].destination, QDir::toNativeSeparators(m_out + QStringLiteral("/b-Music.wav")));
    QCOMPARE(wrapper.suffixText(), QStringLiteral("-{presetName}"));
}

void TestNewFilesDialog::wrapperWaitsForResultsToBeCollected()
{
    dlgAddMultipleFiles_Wrapper wrapper;
    const ScanPath scanPath = folder(m_in, m_out);
    wrapper.setFolder(scanPath);
    wrapper.setPresetNames({"Voice"});
    wrapper.addFile(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
    QVERIFY(wrapper.show(nullptr, scanPath));
    pressOk(wrapper.dialog());

    // New files arrive before the answer is collected: they wait.
    wrapper.addFile(m_in + QStringLiteral("/b.wav"), m_in + QStringLiteral("/b.wav"), QStringLiteral("Voice"));
    QVERIFY(!wrapper.show(nullptr, scanPath));
    QVERIFY(wrapper.hasPendingFiles());

    QVERIFY(wrapper.takeResultsReady());
    QCOMPARE(wrapper.takeResults().size(), 1);
    QVERIFY(wrapper.show(nullptr, scanPath));
    const auto checks = rowWidgets(wrapper.dialog(), "chkFilename");
    QCOMPARE(checks.size(), 1);
    QCOMPARE(qobject_cast<QCheckBox*>(checks[0])->text(), QStringLiteral("b.wav"));
    QVERIFY(!wrapper.wasAccepted());
    wrapper.dialog()->reject();
}

void TestNewFilesDialog::cancelClearsResults()
{
    dlgAddMultipleFiles_Wrapper wrapper;
    const ScanPath scanPath = folder(m_in, m_out);
    wrapper.setFolder(scanPath);
    wrapper.setPresetNames({"Voice"});
    wrapper.addFile(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
    QVERIFY(wrapper.show(nullptr, scanPath));
    pressOk(wrapper.dialog());
    QVERIFY(wrapper.takeResultsReady());
    QCOMPARE(wrapper.takeResults().size(), 1);

    wrapper.addFile(m_in + QStringLiteral("/b.wav"), m_in + QStringLiteral("/b.wav"), QStringLiteral("Voice"));
    QVERIFY(wrapper.show(nullptr, scanPath));
    wrapper.dialog()->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(wrapper.takeResultsReady());
    QVERIFY(!wrapper.wasAccepted());
    QVERIFY(wrapper.takeResults().isEmpty());
    QString preset;
    QVERIFY(!wrapper.dominantPreset(preset));
}

void TestNewFilesDialog::dominantPreset_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("sameCount");
    QTest::addColumn<int>("unchecked");
    QTest::addColumn<bool>("dominant");
    QTest::newRow("9 of 10") << 10 << 9 << 0 << true;
    QTest::newRow("8 of 10") << 10 << 8 << 0 << false;
    QTest::newRow("8 of 9 selected") << 10 << 8 << 1 << true;
    QTest::newRow("1 of 1") << 1 << 1 << 0 << true;
    QTest::newRow("nothing selected") << 3 << 3 << 3 << false;
}

void TestNewFilesDialog::dominantPreset()
{
    QFETCH(int, rows);
    QFETCH(int, sameCount);
    QFETCH(int, unchecked);
    QFETCH(bool, dominant);

    dlgAddMultipleFiles_Wrapper wrapper;
    const ScanPath scanPath = folder(m_in, m_out);
    wrapper.setFolder(scanPath);
    wrapper.setPresetNames({"Voice", "Music"});
    QStringList presets;
    for (int i = 0; i < rows; ++i) {
        const QString file = m_in + QStringLiteral("/f%1.wav").arg(i);
        wrapper.addFile(file, file, QStringLiteral("Voice"));
        presets << (i < sameCount ? QStringLiteral("Music") : QStringLiteral("Voice"));
    }
    QVERIFY(wrapper.show(nullptr, scanPath));
    choosePresets(wrapper.dialog(), presets);
    // Unchecked rows are taken from the end, away from the Music rows where
    // possible, so "8 of 9 selected" keeps all eight Music rows.
    const auto checks = rowWidgets(wrapper.dialog(), "chkFilename");
    for (int i = 0; i < unchecked; ++i)
        qobject_cast<QCheckBox*>(checks[rows - 1 - i])->setChecked(false);
    pressOk(wrapper.dialog());

    QString preset;
    QCOMPARE(wrapper.dominantPreset(preset), dominant);
    if (dominant)
        QCOMPARE(preset, QStringLiteral("Music"));
}

void TestNewFilesDialog::dontShowAgainIsReported()
{
    dlgAddMultipleFiles_Wrapper wrapper;
    const ScanPath scanPath = folder(m_in, m_out);
    wrapper.setFolder(scanPath);
    wrapper.setPresetNames({"Voice"});
    QVERIFY(wrapper.showAgain());
    wrapper.addFile(m_in + QStringLiteral("/a.wav"), m_in + QStringLiteral("/a.wav"), QStringLiteral("Voice"));
    QVERIFY(wrapper.show(nullptr, scanPath));
    wrapper.dialog()->findChild<QCheckBox*>(QStringLiteral("chkShowDialog"))->setChecked(true);
    pressOk(wrapper.dialog());
    QVERIFY(wrapper.wasAccepted());
    QVERIFY(!wrapper.showAgain());
}

QTEST_MAIN(TestNewFilesDialog)
#include "tst_newfilesdialog.moc"
