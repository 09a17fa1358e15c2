#include "dialogs/dlglogin.h"
#include "ui_dlglogin.h"

#include "pipeline/queuemanager.h"
#include "settings/settings.h"

#include <QDebug>
#include <QInputDialog>
#include <QTimer>

dlgLogin::dlgLogin(QWidget* parent)
    : QDialog(parent), ui(new Ui::dlgLogin), statusTimer(new QTimer(this))
{
    ui->setupUi(this);
    connect(statusTimer, &QTimer::timeout, this, &dlgLogin::on_windowStatusTimer_Tick);
    statusTimer->start(1000);
    ui->txtPassword->setEchoMode(QLineEdit::Password);
}

dlgLogin::~dlgLogin()
{
    delete ui;
    stopFlag = true;
    if (workerThread.joinable())
        workerThread.join();
}

bool dlgLogin::askForLogin(Settings* settings, QueueManager* queueManager, bool startThread)
{
    dlgLogin dialog;
    dialog.setContext(settings, queueManager, startThread);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    settings->wUsername = dialog.username();
    if (dialog.isRememberChecked()) {
        settings->wPassword = dialog.password();
        settings->rememberPassword = true;
    } else if (settings->passwordInKeychain) {
        // Not to be remembered: the keychain's copy goes (a password kept
        // in settings.xml stays, as it always did).
        settings->wPassword.clear();
    }
    settings->loginChanged();
    return true;
}

void dlgLogin::setContext(Settings* settingsObject, QueueManager* manager, bool startThread)
{
    settings = settingsObject;
    queueManager = manager;
    if (settings)
        ui->txtUsername->setText(QString::fromUtf8(settings->wUsername));
    if (startThread)
        createThread();
}

bool dlgLogin::isRememberChecked() const
{
    return ui->chkRemember->isChecked();
}

void dlgLogin::createThread()
{
    if (workerThread.joinable() || !queueManager)
        return;
    workerThread = std::thread([this] { threadFunc(); });
}

void dlgLogin::threadFunc()
{
    qDebug() << "dlglogin::ThreadProc";
    while (!stopFlag)
        queueManager->cycle(true, false);
}

void dlgLogin::on_btnOK_clicked()
{
    if (!queueManager)
        return;
    const QByteArray user = ui->txtUsername->text().toUtf8();
    const QByteArray password = ui->txtPassword->text().toUtf8();
    if (user.isEmpty() || password.isEmpty())
        return;
    queueManager->setCredentials(user, password);
    m_username = user;
    m_password = password;
}

void dlgLogin::on_windowStatusTimer_Tick()
{
    if (!queueManager)
        return;
    const QueueManager::State state = queueManager->state();
    QString text = QueueManager::stateName(state);
    if (state == QueueManager::WaitingForLoginInfo) {
        text = QString::fromUtf8(queueManager->statusMessage());
    } else if (QueueManager::isWorking(state)) {
        text = tr("Log in OK");
        statusTimer->stop();
        accept();
    }
    ui->lblStatus->setText(text);
    ui->lblApiURL->setText(tr("API URL: ") + QString::fromUtf8(queueManager->apiUrl()));
}

void dlgLogin::on_btnCancel_clicked()
{
    reject();
}

void dlgLogin::on_btnSettings_clicked()
{
    if (!queueManager)
        return;
    const QString url = QInputDialog::getText(this, tr("Set API address"),
                                              tr("This URL will be used to acces the Sonvira API:"),
                                              QLineEdit::Normal, QString::fromUtf8(queueManager->apiUrl()));
    if (!url.isEmpty())
        queueManager->setApiUrl(url.toUtf8());
}

void dlgLogin::on_chkShowPassword_stateChanged(int state)
{
    ui->txtPassword->setEchoMode(state == Qt::Checked ? QLineEdit::Normal : QLineEdit::PasswordEchoOnEdit);
}
