#include "dialogs/dlgaddnewfolderwizard.h"
#include "dialogs/dlgsetupwindow.h"
#include "dialogs/scanpathwidget.h"
#include "settings/folderwatcher.h"
#include "settings/settings.h"
#include "tests/dialogs/loggedinmanager.h"
#include "tests/dialogs/modalanswer.h"
#include "tests/dialogs/namedchild.h"
#include "tests/dialogs/tabcycle.h"

#include "serviceprocess.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeView>

namespace {

// Answers every message box that opens while it lives, noting
// "title|text", with `button` when the box has it, else its default.
class BoxRecorder {
public:
    explicit BoxRecorder(QMessageBox::StandardButton button = QMessageBox::Ok)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            if (onBox)
                onBox();
            QAbstractButton* chosen = box->button(button);
            if (chosen)
                chosen->click();
            else
                box->accept();
        });
        timer.start(20);
    }
    QStringList seen;
    std::function<void()> onBox;

private:
    QTimer timer;
};

const QList<QByteArray> kPresets{"1: Speech -16 LUFS", "2: Music -14 LUFS"};

} // namespace

// The setup window: OK's checks with their exact texts and order, what an
// accepted window hands back, log out, "Show Password" and "Add new folder".
class TestDlgSetupWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void formAsDescribed();
    void firstFailingPanelIsReported();
    void polledFolderSaysSoOnItsPanel();
    void anyPresetPassesWithoutPresetList();
    void duplicatesAreRefused();
    void okRefusesWhatCouldNotBeKept();
    void unwritableOutputAsksBeforeAccepting();
    void replaceOriginalWarningListsAFolderOnce();
    void deletedPanelIsIgnored();
    void passwordOnlyChangeKeepsEveryFolder();
    void resetNotice();
    void showPasswordNeverRevealsTheStoredOne();
    void logOutActsEvenWhenCancelled();
    void addNewFolderThroughTheWizard();
    void panelsComeFirstWhenTabbing();

private:
    ScanPath folder(const char* in, const char* out, const QByteArray& preset, int result = 2);
    QString dirPath(const char* name) const;
    QList<scanPathWidget*> panels(dlgSetupWindow& window) const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<LoggedInManager> loggedIn;
    // On the test's settings, as the setup window's caller holds it.
    std::unique_ptr<Account> account;
};

void TestDlgSetupWindow::initTestCase()
{
    service = std::make_unique<ServiceProcess>();
    QVERIFY2(service->start(), qPrintable(service->errorString()));
}

void TestDlgSetupWindow::init()
{
    account.reset();
    dir = std::make_unique<QTemporaryDir>();
    for (const char* name : {"in", "out", "other"})
        QVERIFY(QDir(dir->path()).mkpath(QString::fromLatin1(name)));
    settings = std::make_unique<Settings>();
    settings->wUsername = "demo@sonvira.local";
    settings->wPassword = "demo";
    loggedIn.reset();
    loggedIn = std::make_unique<LoggedInManager>(service->apiUrl(), "demo@sonvira.local", "demo");
    account = std::make_unique<Account>(*settings, loggedIn->manager);
}

QString TestDlgSetupWindow::dirPath(const char* name) const
{
    return QDir::toNativeSeparators(dir->filePath(QString::fromLatin1(name)));
}

ScanPath TestDlgSetupWindow::folder(const char* in, const char* out, const QByteArray& preset, int result)
{
    ScanPath record;
    record.path = dirPath(in);
    record.outputPath = *out ? dirPath(out) : QString();
    record.preset = preset;
    record.preProcessing_Result = result;
    return record;
}

QList<scanPathWidget*> TestDlgSetupWindow::panels(dlgSetupWindow& window) const
{
    return window.findChildren<scanPathWidget*>();
}

void TestDlgSetupWindow::formAsDescribed()
{
    settings->hideWhenClosed = true;
    settings->FFMPEGPath = "/opt/ffmpeg/bin";
    settings->parallelJobs = 3;
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    QCOMPARE(window.windowTitle(), QStringLiteral("Setup"));
    QCOMPARE(window.size(), QSize(959, 687));
    QVERIFY(!window.windowIcon().isNull());
    auto* tabs = namedChild<QTabWidget>(window, "tabWidget");
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("Account"));
    // Opening runs the codec check; without one the folder counts as not found.
    QCOMPARE(namedChild<QLabel>(window, "lblPathCodecStatus")->text(),
             QStringLiteral("Codec Not found - Video processing will be disabled"));
    QCOMPARE(namedChild<QPushButton>(window, "btnBrowseCodec")->text(), QStringLiteral("Browse..."));
    QCOMPARE(namedChild<QLineEdit>(window, "lineEdit")->text(), QStringLiteral("/opt/ffmpeg/bin"));
    QCOMPARE(namedChild<QLineEdit>(window, "txtPassword")->echoMode(), QLineEdit::Password);
    QVERIFY(namedChild<QCheckBox>(window, "chkHideWhenClosed")->isChecked());
    auto* parallel = namedChild<QSpinBox>(window, "spinParallelJobs");
    QCOMPARE(parallel->value(), 3);
    QCOMPARE(std::pair(parallel->minimum(), parallel->maximum()), std::pair(1, 4));
    QCOMPARE(namedChild<QLabel>(window, "lblParallelJobs")->text(), QStringLiteral("Files processed at the same time"));
    // The offscreen platform has no tray: the window says what a close does.
    QCOMPARE(namedChild<QLabel>(window, "lblNoTray")->isHidden(), QSystemTrayIcon::isSystemTrayAvailable());
}

void TestDlgSetupWindow::firstFailingPanelIsReported()
{
    settings->addScanPath(folder("in", "missing-out", kPresets.at(0)));
    settings->addScanPath(folder("missing-in", "out", kPresets.at(0)));
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    BoxRecorder boxes(QMessageBox::Yes);
    window.accept();
    QCOMPARE(boxes.seen,
             QStringList{"Validation Error|The output path " + dirPath("missing-out") + " does not exist."});
    QVERIFY(window.result() != QDialog::Accepted);
    QVERIFY(window.results().isEmpty());

    panels(window).first()->findChild<QToolButton*>(QStringLiteral("btnDelete"))->click();
    window.accept();
    QCOMPARE(boxes.seen.last(), "Validation Error|The path " + dirPath("missing-in") + " does not exist.");
    QVERIFY(window.result() != QDialog::Accepted);
}

void TestDlgSetupWindow::polledFolderSaysSoOnItsPanel()
{
    QVERIFY(QDir(dirPath("in")).mkpath(QStringLiteral("sub")));
    FolderWatcher watcher;
    watcher.setMaxDirectoryWatches(1);
    watcher.watch(dirPath("in"), {dirPath("in"), dirPath("in") + QStringLiteral("/sub")});
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    settings->addScanPath(folder("other", "out", kPresets.at(0)));
    dlgSetupWindow window;
    window.setWatchWarning([&watcher](const QString& path) { return watcher.warning(path); });
    window.setContext(settings.get(), kPresets, account.get());
    const QList<scanPathWidget*> shown = panels(window);
    QCOMPARE(shown.size(), 2);
    const auto* polled = shown.at(0)->findChild<QLabel*>(QStringLiteral("lblWatchWarning"));
    QVERIFY(polled->isVisibleTo(shown.at(0)));
    QVERIFY2(polled->text().startsWith(QStringLiteral("1 of its 2 folders are not watched")), qPrintable(polled->text()));
    QVERIFY(!shown.at(1)->findChild<QLabel*>(QStringLiteral("lblWatchWarning"))->isVisibleTo(shown.at(1)));
}

void TestDlgSetupWindow::anyPresetPassesWithoutPresetList()
{
    // Stored without an output folder: the panel hands back the watched
    // folder, so the output check looks at an existing folder.
    settings->addScanPath(folder("in", "", "7: Not Offered"));
    dlgSetupWindow window;
    window.setContext(settings.get(), {}, account.get());
    BoxRecorder boxes;
    window.accept();
    QCOMPARE(boxes.seen, QStringList());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(window.results().size(), 1);
    QCOMPARE(window.results().first().preset, QByteArray("7: Not Offered"));
    QCOMPARE(window.results().first().outputPath, dirPath("in"));
}

void TestDlgSetupWindow::duplicatesAreRefused()
{
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    settings->addScanPath(folder("other", "out", kPresets.at(0)));
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    BoxRecorder boxes;
    window.accept();
    const QList<ScanPath> stored = settings->scanPaths();
    QCOMPARE(boxes.seen, QStringList{"Validation Error|Found duplicate: \n" + stored.at(0).describe()
                                     + "\n...and...\n" + stored.at(2).describe()});
    QVERIFY(window.result() != QDialog::Accepted);
}

void TestDlgSetupWindow::okRefusesWhatCouldNotBeKept()
{
    // A preset no longer offered is shown as such and refused, never swapped
    // for another; a custom noise value that is not a number is named.
    ScanPath gone = folder("in", "out", "9: Gone");
    settings->addScanPath(gone);
    ScanPath noise = folder("other", "out", kPresets.at(0));
    noise.preProcessing_Arguments = QStringLiteral("nredOp00: -stmlength nan -mtslength 1");
    settings->addScanPath(noise);
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    QCOMPARE(panels(window).first()->findChild<QComboBox*>(QStringLiteral("cmbPreset"))->currentText(),
             QStringLiteral("9: Gone (not offered)"));
    BoxRecorder boxes(QMessageBox::Yes);
    window.accept();
    QCOMPARE(boxes.seen, QStringList{"Validation Error|The preset 9: Gone is not valid."});
    // The message's panel is brought into view.
    QCOMPARE(namedChild<QTabWidget>(window, "tabWidget")->currentWidget()->objectName(),
             QStringLiteral("tabFolders"));

    panels(window).first()->findChild<QToolButton*>(QStringLiteral("btnDelete"))->click();
    window.accept();
    QCOMPARE(boxes.seen.last(), "Validation Error|The S->M value \"nan\" of the folder " + dirPath("other")
                                    + " is not a number.");
    QVERIFY(window.result() != QDialog::Accepted);
}

void TestDlgSetupWindow::unwritableOutputAsksBeforeAccepting()
{
    // A folder nobody may write to, not even root: the kernel's settings tree.
    const QString readOnly = QStringLiteral("/proc/sys");
    if (QFileInfo(readOnly).isWritable())
        QSKIP("no read-only folder on this machine");
    ScanPath record = folder("in", "", kPresets.at(0));
    record.outputPath = readOnly;
    settings->addScanPath(record);
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    for (const QString answer : {QStringLiteral("Go back"), QStringLiteral("Continue")}) {
        QString seen;
        answerModal<QMessageBox>([&seen, answer](QMessageBox* box) {
            seen = box->windowTitle() + QLatin1Char('|') + box->text();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == answer)
                    button->click();
            }
        });
        window.accept();
        QCOMPARE(seen, QStringLiteral("Output folder not writable|Processed files cannot be saved in these output "
                                      "folders: this user may not write to them.\n\n")
                           + readOnly);
        QCOMPARE(window.result() == QDialog::Accepted, answer == QLatin1String("Continue"));
    }
}

void TestDlgSetupWindow::replaceOriginalWarningListsAFolderOnce()
{
    settings->addScanPath(folder("in", "out", kPresets.at(0), 0));
    settings->addScanPath(folder("in", "out", kPresets.at(1), 2));
    settings->addScanPath(folder("in", "other", kPresets.at(1), 6));
    settings->addScanPath(folder("other", "out", kPresets.at(0), 0));
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    BoxRecorder boxes;
    window.accept();
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(boxes.seen,
             QStringList{"Pre-process setting warning|'Replace original file' was set for the following folder(s) "
                         "that have more than one instance. \nThis could result in noise reduction being applied "
                         "multiple times to the same file.\n\n\n"
                         + dirPath("in") + "\n"});
    QCOMPARE(window.results().size(), 4);

    // Alone on its folder, a panel that replaces the original is no concern.
    Settings single;
    single.addScanPath(folder("in", "out", kPresets.at(0), 0));
    dlgSetupWindow alone;
    alone.setContext(&single, kPresets, account.get());
    alone.accept();
    QCOMPARE(alone.result(), int(QDialog::Accepted));
    QCOMPARE(boxes.seen.size(), 1);
}

void TestDlgSetupWindow::deletedPanelIsIgnored()
{
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    scanPathWidget* second = panels(window).at(1);
    // Delete asks first: "No" keeps the folder, "Yes" takes it out.
    {
        BoxRecorder no(QMessageBox::No);
        second->findChild<QToolButton*>(QStringLiteral("btnDelete"))->click();
        QCOMPARE(no.seen, QStringList{"Delete watched folder|Stop watching " + dirPath("in")
                                      + "? This takes effect when you press OK."});
        QVERIFY(!second->isHidden());
    }
    {
        BoxRecorder yes(QMessageBox::Yes);
        second->findChild<QToolButton*>(QStringLiteral("btnDelete"))->click();
    }
    QVERIFY(second->isHidden());
    QVERIFY(window.isAncestorOf(second));
    BoxRecorder boxes;
    window.accept();
    QCOMPARE(boxes.seen, QStringList());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(window.results().size(), 1);
    QCOMPARE(window.results().first().id, 1);
}

void TestDlgSetupWindow::passwordOnlyChangeKeepsEveryFolder()
{
    ScanPath first = folder("in", "out", kPresets.at(0));
    first.notePlaceholder(dirPath("in") + "/known.wav");
    settings->addScanPath(first);
    settings->addScanPath(folder("other", "", kPresets.at(1), 6));
    const QList<ScanPath> before = settings->scanPaths();

    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    window.show();
    namedChild<QLineEdit>(window, "txtPassword")->setText(QStringLiteral("new secret"));
    window.accept();
    QCOMPARE(window.result(), int(QDialog::Accepted));
    window.applyTo(*settings);
    QVERIFY(window.applyCredentials(*account));
    QVERIFY(!window.applyCredentials(*account));

    const QList<ScanPath> after = settings->scanPaths();
    QCOMPARE(after.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(after.at(i).path, before.at(i).path);
        QCOMPARE(after.at(i).preset, before.at(i).preset);
        QCOMPARE(after.at(i).preProcessing_Result, before.at(i).preProcessing_Result);
        QCOMPARE(after.at(i).scannedFiles.size(), before.at(i).scannedFiles.size());
    }
    QCOMPARE(settings->wPassword, QByteArray("new secret"));
    QCOMPARE(settings->wUsername, QByteArray("demo@sonvira.local"));
}

void TestDlgSetupWindow::resetNotice()
{
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    QVERIFY(!window.resetOnRestart());
    namedChild<QCheckBox>(window, "chkReset")->setChecked(true);
    namedChild<QCheckBox>(window, "chkHideWhenClosed")->setChecked(true);
    namedChild<QSpinBox>(window, "spinParallelJobs")->setValue(4);
    namedChild<QLineEdit>(window, "lineEdit")->setText(QStringLiteral("/usr/bin"));
    BoxRecorder boxes;
    window.accept();
    QCOMPARE(boxes.seen, QStringList{"Setup|Settings will be reset when the program is restarted"});
    QVERIFY(window.resetOnRestart());
    window.applyTo(*settings);
    QVERIFY(settings->resetOnRestart && settings->hideWhenClosed);
    QCOMPARE(settings->parallelJobs, 4);
    QCOMPARE(settings->FFMPEGPath, QByteArray("/usr/bin"));
}

void TestDlgSetupWindow::showPasswordNeverRevealsTheStoredOne()
{
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    auto* field = namedChild<QLineEdit>(window, "txtPassword");
    auto* show = namedChild<QCheckBox>(window, "chkShowPassword");
    QStringList echoWhileAsked;
    {
        BoxRecorder no(QMessageBox::No);
        no.onBox = [&] { echoWhileAsked << QString::number(field->echoMode()); };
        show->click();
        QTRY_VERIFY_WITH_TIMEOUT(!show->isChecked(), 5000);
        QCOMPARE(no.seen, QStringList{"Show password|The current password will be erased, and the user logged out "
                                      "when the \nprogram is closed. Continue ?"});
    }
    QCOMPARE(field->text(), QStringLiteral("demo"));
    QCOMPARE(field->echoMode(), QLineEdit::Password);
    QCOMPARE(echoWhileAsked, QStringList{QString::number(QLineEdit::Password)});

    {
        BoxRecorder yes(QMessageBox::Yes);
        QObject::connect(field, &QLineEdit::textChanged, &window, [&] {
            if (field->echoMode() == QLineEdit::Normal && !field->text().isEmpty())
                echoWhileAsked << QStringLiteral("revealed ") + field->text();
        });
        show->click();
        QCOMPARE(yes.seen.size(), 1);
    }
    QVERIFY(show->isChecked());
    QCOMPARE(field->text(), QString());
    QCOMPARE(field->echoMode(), QLineEdit::Normal);
    QCOMPARE(echoWhileAsked.size(), 1);

    // Once granted, the box toggles without asking; what is typed now is the user's own.
    BoxRecorder none;
    field->setText(QStringLiteral("typed"));
    show->click();
    QCOMPARE(field->echoMode(), QLineEdit::Password);
    show->click();
    QCOMPARE(field->echoMode(), QLineEdit::Normal);
    QCOMPARE(none.seen, QStringList());
    window.accept();
    QCOMPARE(window.password(), QByteArray("typed"));
}

void TestDlgSetupWindow::logOutActsEvenWhenCancelled()
{
    QVERIFY(loggedIn->waitForPresets());
    QVERIFY(loggedIn->manager.hasToken());
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    namedChild<QPushButton>(window, "btnLogOut")->click();
    QCOMPARE(namedChild<QLineEdit>(window, "txtPassword")->text(), QString());
    window.reject();
    QVERIFY(settings->wPassword.isEmpty());
    QCOMPARE(settings->wUsername, QByteArray("demo@sonvira.local"));
    QVERIFY(!loggedIn->manager.hasToken());
}

void TestDlgSetupWindow::addNewFolderThroughTheWizard()
{
    QVERIFY(loggedIn->waitForPresets());
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    // Files already in a folder: asked about for the new folder only.
    for (const char* name : {"in/old.wav", "other/a.wav", "other/clip.mp4", "other/notes.txt"}) {
        QFile file(dir->filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    dlgSetupWindow window;
    window.setContext(settings.get(), loggedIn->manager.presets(), account.get());
    const QString preset = QString::fromUtf8(loggedIn->manager.presets().at(1));
    for (const char* input : {"other", "out"}) {
        bool answered = false;
        answerModal<dlgAddNewFolderWizard>([&](dlgAddNewFolderWizard* wizard) {
            answered = true;
            wizard->next();
            for (QTreeView* tree : wizard->findChildren<QTreeView*>()) {
                auto* model = qobject_cast<QFileSystemModel*>(tree->model());
                tree->setCurrentIndex(model->index(dir->filePath(QString::fromLatin1(input))));
            }
            wizard->next();
            wizard->next();
            wizard->findChild<QComboBox*>(QStringLiteral("cmbPreset"))->setCurrentText(preset);
            wizard->next();
            wizard->button(QWizard::FinishButton)->click();
        });
        namedChild<QPushButton>(window, "btnAddNewPath")->click();
        QVERIFY(answered);
    }
    BoxRecorder boxes;
    window.accept();
    // Answered by closing the box: nothing is charged unless the user says so.
    QCOMPARE(boxes.seen, QStringList{"Files already in the folder|The folder " + dirPath("other")
                                     + " already holds 2 audio or video files."});
    const QList<ScanPath> results = window.results();
    QCOMPARE(results.size(), 3);
    QCOMPARE(results.at(1).scannedFiles.size(), 2);
    window.applyTo(*settings);
    QCOMPARE(settings->scanPaths().at(1).scannedFiles.size(), 2);
    QCOMPARE(results.at(1).id, 32769);
    QCOMPARE(results.at(2).id, 32770);
    QCOMPARE(results.at(1).path, dirPath("other"));
    QCOMPARE(results.at(1).outputPath, dirPath("other"));
    QCOMPARE(results.at(2).path, dirPath("out"));
    QCOMPARE(results.at(1).preset, preset.toUtf8());

    // A cancelled wizard adds nothing.
    answerModal<dlgAddNewFolderWizard>([](dlgAddNewFolderWizard* wizard) { wizard->reject(); });
    namedChild<QPushButton>(window, "btnAddNewPath")->click();
    QCOMPARE(panels(window).size(), 3);
}

// Panels are added after the form is built; Tab still reaches their
// controls right after the list, panel by panel, before "Add new folder".
void TestDlgSetupWindow::panelsComeFirstWhenTabbing()
{
    settings->addScanPath(folder("in", "out", kPresets.at(0)));
    settings->addScanPath(folder("other", "out", kPresets.at(0)));
    dlgSetupWindow window;
    window.setContext(settings.get(), kPresets, account.get());
    namedChild<QTabWidget>(window, "tabWidget")->setCurrentIndex(2);
    window.show();
    const QList<scanPathWidget*> shown = panels(window);
    QCOMPARE(shown.size(), 2);
    const QList<QWidget*> tabbing = tabCycle(namedChild<QScrollArea>(window, "scrollArea"));
    const int add = tabbing.indexOf(namedChild<QPushButton>(window, "btnAddNewPath"));
    QVERIFY(add > 1);
    // The panel of each control before "Add new folder", in Tab's order.
    QString owners;
    for (QWidget* control : tabbing.mid(0, add))
        owners += shown[0]->isAncestorOf(control) ? QLatin1Char('0') : shown[1]->isAncestorOf(control) ? QLatin1Char('1') : QLatin1Char('-');
    const QRegularExpression panelByPanel(QRegularExpression::anchoredPattern(QStringLiteral("0+1+")));
    QVERIFY2(panelByPanel.match(owners).hasMatch(), qPrintable(owners));
}

QTEST_MAIN(TestDlgSetupWindow)
#include "tst_dlgsetupwindow.moc"
