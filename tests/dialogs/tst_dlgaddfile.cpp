#include "dialogs/dlgaddfile.h"
#include "tests/dialogs/modalanswer.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The add-file dialog: preset preselection, the checks of OK with their
// warnings, and the source browser's start folder and destination proposal.
class TestDlgAddFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void presetPreselection();
    void okChecksSourceAndDestinationFolder();
    void browsingSourceProposesDestination();
    void proposalKeepsAnExistingFolder();
    void addFileBrowserTakesSeveralFiles();

private:
    QString touch(const QString& name);
    QString text(dlgAddFile& dialog, const char* label);
    static void browseSource(dlgAddFile& dialog);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestDlgAddFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestDlgAddFile::touch(const QString& name)
{
    QFile file(dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("RIFF");
    return QDir::toNativeSeparators(file.fileName());
}

QString TestDlgAddFile::text(dlgAddFile& dialog, const char* label)
{
    return dialog.findChild<QLabel*>(QString::fromLatin1(label))->text();
}

void TestDlgAddFile::browseSource(dlgAddFile& dialog)
{
    dialog.findChild<QPushButton*>(QStringLiteral("btnBrowseSrc"))->click();
}

void TestDlgAddFile::presetPreselection()
{
    dlgAddFile dialog;
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("comboPreset"));
    const QList<QByteArray> presets{"1: Speech", "2: Music", "3: Broadcast"};
    dialog.setContext(QStringLiteral("/a.wav"), QStringLiteral("/b.wav"), presets, "2: Music");
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentText(), QStringLiteral("2: Music"));
    dialog.setContext({}, {}, presets, {});
    QCOMPARE(combo->currentText(), QStringLiteral("1: Speech"));
    dialog.setContext({}, {}, presets, "9: Gone");
    QCOMPARE(combo->currentText(), QStringLiteral("1: Speech"));
    QCOMPARE(text(dialog, "lblSrcFile"), QString());
    QVERIFY(!dialog.windowIcon().isNull());
}

void TestDlgAddFile::okChecksSourceAndDestinationFolder()
{
    const QString source = touch(QStringLiteral("take.wav"));
    dlgAddFile dialog;
    QStringList warnings;
    auto answer = [&warnings](QMessageBox* box) {
        warnings << box->windowTitle() + ": " + box->text();
        box->accept();
    };

    dialog.setContext(QStringLiteral("-"), QStringLiteral("-"), {"1: Speech"}, {});
    answerModal<QMessageBox>(answer);
    dialog.accept();
    QVERIFY(dialog.result() != QDialog::Accepted);

    dialog.setContext(source, dir->filePath(QStringLiteral("missing/out.wav")), {"1: Speech"}, {});
    answerModal<QMessageBox>(answer);
    dialog.accept();
    QVERIFY(dialog.result() != QDialog::Accepted);
    QCOMPARE(warnings, (QStringList{"Error: The source file does not exist.",
                                    "Error: The destination folder does not exist."}));
    QVERIFY(dialog.source().isEmpty());

    const QString destination = dir->filePath(QStringLiteral("take - {presetName}.wav"));
    dialog.setContext(source, destination, {"1: Speech", "2: Music"}, "2: Music");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.source(), source);
    QCOMPARE(dialog.destination(), destination);
    QCOMPARE(dialog.preset(), QStringLiteral("2: Music"));
}

void TestDlgAddFile::browsingSourceProposesDestination()
{
    const QString source = touch(QStringLiteral("take.1.wav"));
    dlgAddFile dialog;
    dialog.setContext(QStringLiteral("-"), QStringLiteral("-"), {"1: Speech", "2: Music"}, {});
    QString startFolder;
    answerModal<QFileDialog>([&](QFileDialog* browser) {
        startFolder = browser->directory().absolutePath();
        chooseInFileDialog(browser, source);
    });
    browseSource(dialog);
    QCOMPARE(startFolder, QDir::homePath());
    QCOMPARE(text(dialog, "lblSrcFile"), source);
    // The name shown is the one the result will have: the template is
    // expanded with the preset chosen, and follows a change of preset.
    QCOMPARE(text(dialog, "lblDestFile"), QDir::toNativeSeparators(dir->filePath(QStringLiteral("take - 1_ Speech.1.wav"))));
    dialog.findChild<QComboBox*>(QStringLiteral("comboPreset"))->setCurrentIndex(1);
    QCOMPARE(text(dialog, "lblDestFile"), QDir::toNativeSeparators(dir->filePath(QStringLiteral("take - 2_ Music.1.wav"))));
    dialog.accept();
    QCOMPARE(dialog.destination(), QDir::toNativeSeparators(dir->filePath(QStringLiteral("take - {presetName}.1.wav"))));

    // A known source makes the browser start in its folder.
    answerModal<QFileDialog>([&](QFileDialog* browser) {
        startFolder = browser->directory().absolutePath();
        browser->reject();
    });
    browseSource(dialog);
    QCOMPARE(startFolder, QFileInfo(source).absolutePath());
}

void TestDlgAddFile::proposalKeepsAnExistingFolder()
{
    const QString source = touch(QStringLiteral("voice.wav"));
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("results")));
    const QString folder = QDir::toNativeSeparators(dir->filePath(QStringLiteral("results")));
    dlgAddFile dialog;
    dialog.setContext(QStringLiteral("-"), folder, {"1: Speech"}, {});
    answerModal<QFileDialog>([&](QFileDialog* browser) {
        chooseInFileDialog(browser, source);
    });
    browseSource(dialog);
    QCOMPARE(text(dialog, "lblSrcFile"), source);
    QCOMPARE(text(dialog, "lblDestFile"), folder);
}

// "Add file" browses first: several files may be chosen at once, and the
// browser starts in the folder it is given (the last one used).
void TestDlgAddFile::addFileBrowserTakesSeveralFiles()
{
    const QString first = touch(QStringLiteral("one.wav"));
    const QString second = touch(QStringLiteral("two.wav"));
    QString startFolder;
    answerModal<QFileDialog>([&](QFileDialog* browser) {
        startFolder = browser->directory().absolutePath();
        chooseInFileDialog(browser, QStringLiteral("\"one.wav\" \"two.wav\""));
    });
    QStringList chosen = dlgAddFile::chooseSources(nullptr, dir->path());
    QCOMPARE(startFolder, QDir(dir->path()).absolutePath());
    for (QString& path : chosen)
        path = QDir::toNativeSeparators(path);
    chosen.sort();
    QCOMPARE(chosen, (QStringList{first, second}));

    answerModal<QFileDialog>([](QFileDialog* browser) { browser->reject(); });
    QVERIFY(dlgAddFile::chooseSources(nullptr, dir->path()).isEmpty());
}

QTEST_MAIN(TestDlgAddFile)
#include "tst_dlgaddfile.moc"
