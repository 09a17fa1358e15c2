#include "dialogs/dlglogin.h"
#include "ui_dlglogin.h"

#include "driver/account.h"
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
    m_splash = ui->lblImage->pixmap();
    // The label keeps the splash's shape at its largest size; the pixmap it
    // shows follows the label, not the other way round.
    ui->lblImage->setMinimumSize(m_splash.size().scaled(ui->lblImage->maximumSize(), Qt::KeepAspectRatio));
    ui->lblImage->setScaledContents(false);
    ui->lblImage->setAlignment(Qt::AlignCenter);
    ui->lblImage->installEventFilter(this);
}

bool dlgLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->lblImage && event->type() == QEvent::Resize)
        showSplash();
    return QDialog::eventFilter(watched, event);
}

void dlgLogin::showSplash()
{
    const qreal ratio = ui->lblImage->devicePixelRatioF();
    QPixmap drawn = m_splash.scaled(ui->lblImage->size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    drawn.setDevicePixelRatio(ratio);
    ui->lblImage->setPixmap(drawn);
}

dlgLogin::~dlgLogin()
{
    delete ui;
    if (runsRounds)
        account->stopLoginRounds();
}

bool dlgLogin::askForLogin(Settings* settings, Account* account, bool runRounds)
{
    dlgLogin dialog;
    dialog.setContext(settings, account, runRounds);
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

void dlgLogin::setContext(Settings* settingsObject, Account* accountObject, bool runRounds)
{
    settings = settingsObject;
    account = accountObject;
    if (settings)
        ui->txtUsername->setText(QString::fromUtf8(settings->wUsername));
    // With a remembered user name only the password is left to type.
    if (!ui->txtUsername->text().isEmpty())
        ui->txtPassword->setFocus();
    if (runRounds && account && !runsRounds) {
        runsRounds = true;
        account->startLoginRounds();
    }
}

bool dlgLogin::isRememberChecked() const
{
    return ui->chkRemember->isChecked();
}

void dlgLogin::on_btnOK_clicked()
{
    if (!account)
        return;
    const QByteArray user = ui->txtUsername->text().toUtf8();
    const QByteArray password = ui->txtPassword->text().toUtf8();
    if (user.isEmpty() || password.isEmpty())
        return;
    ui->txtPassword->setAccessibleDescription(QString());
    awaitingAnswer = true;
    account->tryCredentials(user, password);
    m_username = user;
    m_password = password;
}

void dlgLogin::on_windowStatusTimer_Tick()
{
    if (!account)
        return;
    QString text = account->statusText();
    if (account->logInAccepted()) {
        text = tr("Log in OK");
        statusTimer->stop();
        accept();
    }
    ui->lblStatus->setText(text);
    ui->lblApiURL->setText(tr("API URL: ") + QString::fromUtf8(account->apiUrl()));
    if (awaitingAnswer && account->credentialsRefused())
        showRefusal(text);
}

// The status line alone changes silently for a screen reader, whose user
// would wait on after a mistyped password.
void dlgLogin::showRefusal(const QString& reason)
{
    awaitingAnswer = false;
    ui->txtPassword->setAccessibleDescription(reason);
    ui->txtPassword->selectAll();
    ui->txtPassword->setFocus(Qt::OtherFocusReason);
}

void dlgLogin::on_btnCancel_clicked()
{
    reject();
}

void dlgLogin::on_btnSettings_clicked()
{
    if (!account)
        return;
    const QString url = QInputDialog::getText(this, tr("Set API address"),
                                              tr("This URL will be used to acces the Sonvira API:"),
                                              QLineEdit::Normal, QString::fromUtf8(account->apiUrl()));
    if (!url.isEmpty())
        account->setApiUrl(url.toUtf8());
}

void dlgLogin::on_chkShowPassword_stateChanged(int state)
{
    ui->txtPassword->setEchoMode(state == Qt::Checked ? QLineEdit::Normal : QLineEdit::Password);
}
