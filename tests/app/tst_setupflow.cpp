// The main window's share of setting up: the welcome wizard at first start
// and its flag across two starts, the Setup action applying an accepted
// window, and the About box.
#include "clientfixture.h"

#include "app/welcomewizard.h"
#include "dialogs/dlgaddnewfolderwizard.h"
#include "dialogs/dlgsetupwindow.h"
#include "settings/naming.h"
#include "tests/dialogs/modalanswer.h"

#include "serviceprocess.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

class TestSetupFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void welcomeFlagAcrossTwoStarts();
    void acceptedWelcomeWizardAddsTheFolder();
    void setupActionKeepsFoldersOnPasswordChange();
    void aboutBox();

private:
    // One start of the client's window on the settings file of this test;
    // the window writes the file when it goes away. `answer` handles the
    // welcome wizard; false when none opened in time.
    bool startOnce(const std::function<void(dlgAddNewFolderWizard*)>& answer);
    QString settingsFile() const { return naming::appConfigFolder() + QStringLiteral("/settings.xml"); }

    QTemporaryDir config;
};

void TestSetupFlow::initTestCase()
{
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QVERIFY(naming::appConfigFolder().startsWith(config.path()));
}

bool TestSetupFlow::startOnce(const std::function<void(dlgAddNewFolderWizard*)>& answer)
{
    ClientFixture client;
    // The fixture turns the wizard off; this start reads the flag from the file.
    client.settings.showFirstTime_AddWatchFolderDialog = true;
    client.settings.load(settingsFile());
    bool answered = false;
    answerModal<dlgAddNewFolderWizard>(
        [&](dlgAddNewFolderWizard* wizard) {
            answered = true;
            answer(wizard);
        },
        5000);
    client.start();
    return QTest::qWaitFor([&] { return answered; }, 6000);
}

void TestSetupFlow::welcomeFlagAcrossTwoStarts()
{
    QFile::remove(settingsFile());
    const auto cancel = [](dlgAddNewFolderWizard* wizard) { wizard->reject(); };
    // Cancelled with the box unchecked: it comes back at the next start.
    QVERIFY(startOnce([&](dlgAddNewFolderWizard* wizard) {
        QCOMPARE(wizard->page(0)->title(), QStringLiteral("Welcome"));
        cancel(wizard);
    }));
    QVERIFY(startOnce([](dlgAddNewFolderWizard* wizard) {
        wizard->findChild<QCheckBox*>(QStringLiteral("chkDontShowAgain"))->setChecked(true);
        wizard->reject();
    }));
    Settings stored;
    QVERIFY(stored.load(settingsFile()));
    QVERIFY(!stored.showFirstTime_AddWatchFolderDialog);
    // The next start asks no more.
    QueueManager manager;
    const Account account(stored, manager);
    QVERIFY(!showWelcomeWizardIfFirstStart(nullptr, stored, account));
}

void TestSetupFlow::acceptedWelcomeWizardAddsTheFolder()
{
    ServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QTemporaryDir folders;
    QVERIFY(QDir(folders.path()).mkpath(QStringLiteral("in")) && QDir(folders.path()).mkpath(QStringLiteral("out")));
    ClientFixture client;
    client.settings.showFirstTime_AddWatchFolderDialog = true;
    bool answered = false;
    answerModal<dlgAddNewFolderWizard>([&](dlgAddNewFolderWizard* wizard) {
        answered = true;
        QTRY_COMPARE_WITH_TIMEOUT(wizard->findChild<QLabel*>(QStringLiteral("lblStatus"))->text(),
                                  QStringLiteral("Click next to continue."), 15000);
        wizard->next();
        const QList<QTreeView*> trees = wizard->findChildren<QTreeView*>();
        for (int i = 0; i < trees.size(); ++i) {
            auto* model = qobject_cast<QFileSystemModel*>(trees.at(i)->model());
            trees.at(i)->setCurrentIndex(model->index(folders.filePath(i == 0 ? "in" : "out")));
        }
        wizard->next();
        wizard->next();
        wizard->next();
        wizard->button(QWizard::FinishButton)->click();
    });
    QVERIFY(client.logIn(service.apiUrl()));
    QTRY_VERIFY_WITH_TIMEOUT(answered, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(client.settings.scanPaths().size(), 1, 5000);
    const ScanPath added = client.settings.scanPaths().first();
    QCOMPARE(added.path, QDir::toNativeSeparators(folders.filePath(QStringLiteral("in"))));
    QCOMPARE(added.outputPath, QDir::toNativeSeparators(folders.filePath(QStringLiteral("out"))));
    QCOMPARE(added.preset, client.manager.presets().first());
    QVERIFY(client.settings.showFirstTime_AddWatchFolderDialog);
    // With a folder watched, the welcome wizard has no reason to appear.
    QVERIFY(!showWelcomeWizardIfFirstStart(nullptr, client.settings, client.account));
}

void TestSetupFlow::setupActionKeepsFoldersOnPasswordChange()
{
    QTemporaryDir folders;
    ClientFixture client;
    client.settings.wUsername = "demo@sonvira.local";
    client.settings.wPassword = "demo";
    for (const char* name : {"a", "b"}) {
        QVERIFY(QDir(folders.path()).mkpath(QString::fromLatin1(name)));
        ScanPath folder;
        folder.path = QDir::toNativeSeparators(folders.filePath(QString::fromLatin1(name)));
        folder.preset = "1: Speech";
        folder.notePlaceholder(folder.path + QStringLiteral("/seen.wav"));
        client.settings.addScanPath(folder);
    }
    client.start();
    QVERIFY(client.action("actionSetup")->isEnabled());
    QVERIFY(client.action("actionAbout")->isEnabled());

    bool answered = false;
    answerModal<dlgSetupWindow>([&](dlgSetupWindow* window) {
        answered = true;
        window->findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QStringLiteral("changed"));
        window->findChild<QCheckBox*>(QStringLiteral("chkHideWhenClosed"))->setChecked(true);
        window->findChild<QSpinBox*>(QStringLiteral("spinParallelJobs"))->setValue(3);
        window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    client.action("actionSetup")->trigger();
    QVERIFY(answered);
    // The running queue manager takes the new number at once.
    QCOMPARE(client.manager.parallelJobs(), 3);
    const QList<ScanPath> after = client.settings.scanPaths();
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.at(0).path, QDir::toNativeSeparators(folders.filePath(QStringLiteral("a"))));
    QCOMPARE(after.at(1).scannedFiles.size(), 1);
    QCOMPARE(client.settings.wPassword, QByteArray("changed"));
    QVERIFY(client.settings.hideWhenClosed);

    // Cancel changes nothing.
    answerModal<dlgSetupWindow>([](dlgSetupWindow* window) {
        window->findChild<QCheckBox*>(QStringLiteral("chkHideWhenClosed"))->setChecked(false);
        window->reject();
    });
    client.action("actionSetup")->trigger();
    QVERIFY(client.settings.hideWhenClosed);
}

void TestSetupFlow::aboutBox()
{
    ClientFixture client;
    client.start();
    QString seen;
    answerModal<QMessageBox>([&](QMessageBox* box) {
        seen = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    client.action("actionAbout")->trigger();
    QVERIFY2(seen.startsWith(QLatin1String("About|Sonvira desktop client \n\nVersion: v0.9.9.6\n\n")),
             qPrintable(seen));
    QCOMPARE(seen.count(QLatin1Char('\n')), 6);
}

QTEST_MAIN(TestSetupFlow)
#include "tst_setupflow.moc"
