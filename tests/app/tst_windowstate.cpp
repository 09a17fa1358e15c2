#include "windowtest.h"

#include "app/windowstate.h"
#include "dialogs/dlgaddfile.h"
#include "tests/dialogs/modalanswer.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

// What the main window remembers between runs (its own state file beside
// settings.xml): geometry, the last tab and the folder of the last file
// added by hand; and how it opens the first time.
class TestWindowState : public WindowTest {
    Q_OBJECT

public:
    // Each test starts the window itself, after arranging the state file.
    TestWindowState() : WindowTest(Start::AtLogIn) {}

private slots:
    void firstStartShowsTheQueueOnTheDoneTab();
    void sizeTabAndAddFolderComeBack();

private:
    QTabWidget* tabs() const { return client->window->findChild<QTabWidget*>(QStringLiteral("tabWidget")); }
};

void TestWindowState::firstStartShowsTheQueueOnTheDoneTab()
{
    QVERIFY(!QFile::exists(WindowState::defaultPath()));
    client->start();
    QVERIFY(QTest::qWaitForWindowExposed(client->window.get()));
    QCOMPARE(tabs()->currentWidget()->objectName(), QStringLiteral("tabDone"));
    // Room for four full panels, unless the screen is smaller than that.
    const int queueRoom = client->window->findChild<QScrollArea*>(QStringLiteral("scrollArea"))->viewport()->height();
    const int screenHeight = client->window->screen()->availableGeometry().height();
    QVERIFY2(queueRoom >= 4 * QueueFileWidget::kFullHeight || client->window->frameGeometry().height() >= screenHeight - 1,
             qPrintable(QStringLiteral("%1 px for the queue, %2 px of screen").arg(queueRoom).arg(screenHeight)));
}

void TestWindowState::sizeTabAndAddFolderComeBack()
{
    QVERIFY(startService());
    client->window->resize(640, 480);
    tabs()->setCurrentIndex(2);
    const QString source = wav(QStringLiteral("take.wav"));
    const auto addFileBrowsedFrom = [this](const QString& chosen) {
        QString startFolder;
        answerModal<QFileDialog>([&](QFileDialog* browser) {
            startFolder = browser->directory().absolutePath();
            chooseInFileDialog(browser, chosen);
        });
        answerModal<dlgAddFile>([](dlgAddFile* dialog) { dialog->reject(); });
        client->window->findChild<QToolButton*>(QStringLiteral("btnAddSingleFile"))->click();
        return startFolder;
    };
    QCOMPARE(addFileBrowsedFrom(source), QDir::homePath());
    client.reset();

    // The next run: the fixture starts from no state, so the one written
    // is put back before the new window starts.
    QFile file(WindowState::defaultPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    file.close();
    client = std::make_unique<ClientFixture>();
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(written);
    file.close();
    QVERIFY(client->logIn(service->apiUrl()));
    QCOMPARE(client->window->size(), QSize(640, 480));
    QCOMPARE(tabs()->currentIndex(), 2);
    QCOMPARE(addFileBrowsedFrom(source), QDir(dir->path()).absolutePath());
}

QTEST_MAIN(TestWindowState)
#include "tst_windowstate.moc"
