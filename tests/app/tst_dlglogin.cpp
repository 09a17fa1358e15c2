#include "dialogs/dlglogin.h"
#include "driver/account.h"
#include "pipeline/queuemanager.h"
#include "serviceprocess.h"
#include "settings/settings.h"
#include "tests/dialogs/modalanswer.h"

#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

// The login dialog against the real service, as the start-up path runs it:
// the account runs the log-in rounds while it is open.
class TestDlgLogin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void emptyFieldsChangeNothing();
    void wrongPasswordThenRightOne();
    void passwordIsStoredOnlyWhenRemembered();
    void addressChangeGoesToTheManager();
    void showPasswordEchoModes();
    void storedUserNameLeavesThePasswordToType();
    void splashIsDrawnAtTheScreensScale();
    void enterInEitherFieldLogsIn();

private:
    // Fills in the fields and presses "Log in" once the dialog runs.
    void answerLogin(const QString& user, const QString& password, bool remember);

    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<QueueManager> manager;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Account> account;
};

void TestDlgLogin::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestDlgLogin::init()
{
    service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "0"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
    manager = std::make_unique<QueueManager>();
    QVERIFY(manager->createSessions(service->apiUrl().toUtf8(), 1));
    settings = std::make_unique<Settings>();
    account = std::make_unique<Account>(*settings, *manager);
}

void TestDlgLogin::cleanup()
{
    account.reset();
    manager.reset();
    service.reset();
}

void TestDlgLogin::answerLogin(const QString& user, const QString& password, bool remember)
{
    answerModal<dlgLogin>([=](dlgLogin* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("txtUsername"))->setText(user);
        dialog->findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(password);
        dialog->findChild<QCheckBox*>(QStringLiteral("chkRemember"))->setChecked(remember);
        dialog->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    });
}

void TestDlgLogin::emptyFieldsChangeNothing()
{
    dlgLogin dialog;
    dialog.setContext(settings.get(), account.get(), true);
    auto* user = dialog.findChild<QLineEdit*>(QStringLiteral("txtUsername"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("btnOK"));
    user->setText(ServiceProcess::demoEmail());
    ok->click();
    user->clear();
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(ServiceProcess::demoPassword());
    ok->click();
    QVERIFY(dialog.username().isEmpty());
    // Without both a user name and a password nothing is tried: the status
    // tick shows the waiting state, never a failed log-in, and the service
    // has seen no log-in.
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("lblStatus"));
    const QString initial = status->text();
    QTRY_VERIFY_WITH_TIMEOUT(status->text() != initial, 10000);
    QCOMPARE(status->text(), QStringLiteral("Waiting For Login Info"));
    QVERIFY(dialog.result() != QDialog::Accepted);
    QVERIFY(!service->log().contains("/Login"));
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("lblApiURL"))->text().endsWith(service->apiUrl()));
}

void TestDlgLogin::wrongPasswordThenRightOne()
{
    dlgLogin dialog;
    dialog.setContext(settings.get(), account.get(), true);
    dialog.show();
    dialog.findChild<QLineEdit*>(QStringLiteral("txtUsername"))->setText(ServiceProcess::demoEmail());
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QStringLiteral("wrong"));
    dialog.findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("lblStatus"));
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Can't log in")), 10000);
    QVERIFY(dialog.isVisible());
    // A screen reader hears the refusal with the field to type again.
    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
    QTRY_COMPARE(password->accessibleDescription(), status->text());
    QCOMPARE(dialog.focusWidget(), password);
    QCOMPARE(password->selectedText(), QStringLiteral("wrong"));

    password->setText(ServiceProcess::demoPassword());
    dialog.findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 10000);
    QCOMPARE(status->text(), QStringLiteral("Log in OK"));
    QCOMPARE(dialog.username(), ServiceProcess::demoEmail().toUtf8());
    QCOMPARE(dialog.password(), ServiceProcess::demoPassword().toUtf8());
}

void TestDlgLogin::passwordIsStoredOnlyWhenRemembered()
{
    settings->wPassword = "from an earlier run";
    answerLogin(ServiceProcess::demoEmail(), ServiceProcess::demoPassword(), false);
    QVERIFY(dlgLogin::askForLogin(settings.get(), account.get(), true));
    QCOMPARE(settings->wUsername, ServiceProcess::demoEmail().toUtf8());
    QCOMPARE(settings->wPassword, QByteArray("from an earlier run"));
    QVERIFY(!settings->rememberPassword);

    manager->logout();
    manager->enableLogin();
    answerLogin(ServiceProcess::demoEmail(), ServiceProcess::demoPassword(), true);
    QVERIFY(dlgLogin::askForLogin(settings.get(), account.get(), true));
    QCOMPARE(settings->wPassword, ServiceProcess::demoPassword().toUtf8());
    QVERIFY(settings->rememberPassword);

    answerModal<dlgLogin>([](dlgLogin* dialog) {
        dialog->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
    });
    QVERIFY(!dlgLogin::askForLogin(settings.get(), account.get(), false));
}

void TestDlgLogin::addressChangeGoesToTheManager()
{
    dlgLogin dialog;
    dialog.setContext(settings.get(), account.get(), false);
    auto* settingsButton = dialog.findChild<QPushButton*>(QStringLiteral("btnSettings"));
    QString prefilled;
    answerModal<QInputDialog>([&prefilled](QInputDialog* input) {
        prefilled = input->textValue();
        input->reject();
    });
    settingsButton->click();
    QCOMPARE(prefilled, service->apiUrl());
    QCOMPARE(manager->apiUrl(), service->apiUrl().toUtf8());

    answerModal<QInputDialog>([](QInputDialog* input) {
        input->setTextValue(QStringLiteral("http://127.0.0.1:9/api"));
        input->accept();
    });
    settingsButton->click();
    QCOMPARE(manager->apiUrl(), QByteArray("http://127.0.0.1:9/api"));
    QVERIFY(settings->apiURL.isEmpty());
}

void TestDlgLogin::showPasswordEchoModes()
{
    dlgLogin dialog;
    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
    auto* show = dialog.findChild<QCheckBox*>(QStringLiteral("chkShowPassword"));
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    show->setChecked(true);
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
    show->setChecked(false);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
}

void TestDlgLogin::storedUserNameLeavesThePasswordToType()
{
    settings->wUsername = ServiceProcess::demoEmail().toUtf8();
    dlgLogin dialog;
    dialog.setContext(settings.get(), account.get(), false);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword")));
}

// Run at 100 % and, as its own CTest entry, at 200 %: the splash's pixels
// are the label's device pixels, never a smaller drawing stretched.
void TestDlgLogin::splashIsDrawnAtTheScreensScale()
{
    dlgLogin dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("lblImage"));
    const QPixmap shown = label->pixmap();
    const qreal ratio = label->devicePixelRatioF();
    QCOMPARE(shown.devicePixelRatio(), ratio);
    const QSize room = label->size() * ratio;
    QVERIFY2(shown.width() >= room.width() - 1 || shown.height() >= room.height() - 1,
             qPrintable(QStringLiteral("%1x%2 pixels for %3x%4").arg(shown.width()).arg(shown.height())
                            .arg(room.width()).arg(room.height())));
}

void TestDlgLogin::enterInEitherFieldLogsIn()
{
    for (const char* field : {"txtPassword", "txtUsername"}) {
        QueueManager fresh;
        QVERIFY(fresh.createSessions(service->apiUrl().toUtf8(), 1));
        bool answered = false;
        // Typed and confirmed with the keyboard only, as a new user does.
        answerModal<dlgLogin>([&](dlgLogin* dialog) {
            answered = true;
            auto* user = dialog->findChild<QLineEdit*>(QStringLiteral("txtUsername"));
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("txtPassword"));
            QTest::keyClicks(user, ServiceProcess::demoEmail());
            QTest::keyClicks(password, ServiceProcess::demoPassword());
            // Focus passed over the other buttons on its way back to the field.
            QApplication::setActiveWindow(dialog);
            dialog->findChild<QPushButton*>(QStringLiteral("btnCancel"))->setFocus(Qt::TabFocusReason);
            auto* target = dialog->findChild<QLineEdit*>(QString::fromLatin1(field));
            target->setFocus(Qt::TabFocusReason);
            QTest::keyClick(target, Qt::Key_Return);
        });
        Settings own;
        Account freshAccount(own, fresh);
        QVERIFY2(dlgLogin::askForLogin(&own, &freshAccount, true), field);
        QVERIFY(answered);
        QCOMPARE(own.wUsername, ServiceProcess::demoEmail().toUtf8());
    }
}

QTEST_MAIN(TestDlgLogin)
#include "tst_dlglogin.moc"
