#include "dialogs/dlgaddnewfolderwizard.h"
#include "tests/dialogs/loggedinmanager.h"

#include "serviceprocess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QTreeView>

namespace {

QString statusOf(dlgAddNewFolderWizard& wizard)
{
    return wizard.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
}

void select(QTreeView* tree, const QString& path)
{
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    tree->setCurrentIndex(model->index(path));
}

// Presses Next, answering the one warning it may show; returns its text.
QString nextAnswering(dlgAddNewFolderWizard& wizard)
{
    QString warning = QStringLiteral("(none)");
    // The warning, if any, opens modally inside next() below.
    auto* timer = new QTimer(&wizard);
    QObject::connect(timer, &QTimer::timeout, &wizard, [&warning, timer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        warning = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
        timer->stop();
    });
    timer->start(20);
    wizard.next();
    timer->stop();
    timer->deleteLater();
    return warning;
}

} // namespace

// The watch-folder wizard: the preset wait, the checks of each page with
// their messages, the summary and what the caller gets.
class TestAddNewFolderWizard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void waitsForLatePresets();
    void pagesCheckTheirChoice();
    void modesAndTrees();

private:
    std::unique_ptr<ServiceProcess> service;
};

void TestAddNewFolderWizard::initTestCase()
{
    service = std::make_unique<ServiceProcess>();
    QVERIFY2(service->start(), qPrintable(service->errorString()));
}

void TestAddNewFolderWizard::waitsForLatePresets()
{
    ServiceProcess late({QStringLiteral("--stall"), QStringLiteral("*AudioPresets*:2")});
    QVERIFY2(late.start(), qPrintable(late.errorString()));
    LoggedInManager loggedIn(late.apiUrl(), "demo@sonvira.local", "demo");
    dlgAddNewFolderWizard wizard(false);
    wizard.setAccount(&loggedIn.account);
    wizard.show();
    QCOMPARE(statusOf(wizard), QStringLiteral("Waiting for presets..."));
    QCOMPARE(nextAnswering(wizard), QStringLiteral("(none)"));
    QCOMPARE(wizard.currentId(), 0);

    QVERIFY(loggedIn.waitForPresets());
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(wizard), QStringLiteral("Click next to continue."), 500);
    auto* presets = wizard.findChild<QComboBox*>(QStringLiteral("cmbPreset"));
    QCOMPARE(presets->count(), loggedIn.manager.presets().size());
    QCOMPARE(presets->itemText(0).toUtf8(), loggedIn.manager.presets().first());
    wizard.next();
    QCOMPARE(wizard.currentId(), 1);
}

void TestAddNewFolderWizard::pagesCheckTheirChoice()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("in")) && QDir(dir.path()).mkpath(QStringLiteral("out")));
    LoggedInManager loggedIn(service->apiUrl(), "demo@sonvira.local", "demo");
    QVERIFY(loggedIn.waitForPresets());
    dlgAddNewFolderWizard wizard(false);
    wizard.setAccount(&loggedIn.account);
    wizard.show();
    QCOMPARE(statusOf(wizard), QStringLiteral("Click next to continue."));
    wizard.next();

    const QList<QTreeView*> trees = wizard.findChildren<QTreeView*>();
    QCOMPARE(trees.size(), 2);
    const QString in = dir.filePath(QStringLiteral("in"));
    const QString out = dir.filePath(QStringLiteral("out"));
    for (int page = 1; page <= 2; ++page) {
        QTreeView* tree = trees.at(page - 1);
        tree->selectionModel()->clear();
        QCOMPARE(nextAnswering(wizard), QStringLiteral("|Please select a folder"));
        QCOMPARE(wizard.currentId(), page);
        select(tree, page == 1 ? in : out);
        QCOMPARE(nextAnswering(wizard), QStringLiteral("(none)"));
        QCOMPARE(wizard.currentId(), page + 1);
    }

    auto* presets = wizard.findChild<QComboBox*>(QStringLiteral("cmbPreset"));
    presets->setCurrentIndex(-1);
    QCOMPARE(nextAnswering(wizard), QStringLiteral("|Please select a preset"));
    QCOMPARE(wizard.currentId(), 3);
    presets->setCurrentIndex(1);
    const QString preset = presets->currentText();
    wizard.next();
    QCOMPARE(wizard.currentId(), 4);
    // The summary names the folders as the trees report them.
    QCOMPARE(wizard.currentPage()->subTitle(),
             "The folder \"" + in + "\" will be watched by the application.\n\nFiles detected will be submitted to "
             "Sonvira using preset \"" + preset + "\"\n\nThe processed file from Sonvira will be stored at \"" + out
             + "\"   \n\nYou will be able to modify these settings using the File->Setup menu");
    // The wizard's header holds two lines only; the page shows the whole text.
    QCOMPARE(wizard.currentPage()->findChild<QLabel*>(QStringLiteral("lblSubTitle"))->text(),
             wizard.currentPage()->subTitle());
    QVERIFY(wizard.validateCurrentPage());
    QCOMPARE(wizard.inputFolder(), QDir::toNativeSeparators(in));
    QCOMPARE(wizard.outputFolder(), QDir::toNativeSeparators(out));
    QCOMPARE(wizard.preset(), preset);
}

void TestAddNewFolderWizard::modesAndTrees()
{
    dlgAddNewFolderWizard plain(false);
    QCOMPARE(plain.page(0)->title(), QStringLiteral("Watch folder"));
    QVERIFY(!plain.findChild<QCheckBox*>());
    QVERIFY(plain.showAgain());
    QCOMPARE(statusOf(plain), QStringLiteral("-"));
    QVERIFY(plain.inputFolder().isEmpty() && plain.outputFolder().isEmpty());
    const QStringList titles{plain.page(1)->title(), plain.page(2)->title(), plain.page(3)->title(),
                             plain.page(4)->title(), plain.page(4)->subTitle()};
    QCOMPARE(titles, (QStringList{"Select the input folder", "Select the output folder", "Preset", "Finished", "."}));
    QVERIFY(!plain.pixmap(QWizard::WatermarkPixmap).isNull());
    QVERIFY(plain.pixmap(QWizard::WatermarkPixmap).width() <= 100);

    // Without a manager nothing is polled and the first page cannot be left.
    QVERIFY(!plain.validateCurrentPage());

    for (QTreeView* tree : plain.findChildren<QTreeView*>()) {
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        // Nothing is chosen for the user.
        QVERIFY(!tree->selectionModel()->hasSelection());
        QVERIFY(!(model->filter() & QDir::Hidden));
        QVERIFY(!(model->filter() & QDir::Files));
        for (int column = 1; column < model->columnCount(); ++column)
            QVERIFY(tree->isColumnHidden(column));
    }

    dlgAddNewFolderWizard welcome(true);
    QCOMPARE(welcome.page(0)->title(), QStringLiteral("Welcome"));
    QVERIFY(welcome.page(0)->subTitle().contains(QLatin1String("processed audio saved back to this computer.")));
    QVERIFY(welcome.showAgain());
    welcome.findChild<QCheckBox*>()->setChecked(true);
    QCOMPARE(welcome.findChild<QCheckBox*>()->text(), QStringLiteral("Don't show this again"));
    QVERIFY(!welcome.showAgain());
}

QTEST_MAIN(TestAddNewFolderWizard)
#include "tst_addnewfolderwizard.moc"
