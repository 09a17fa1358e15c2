#include "dialogs/dlgsetupwindow.h"
#include "ui_dlgsetupwindow.h"

#include "dialogs/dlgaddnewfolderwizard.h"
#include "dialogs/existingfiles.h"
#include "dialogs/scanpathwidget.h"
#include "driver/account.h"
#include "settings/platform.h"
#include "settings/settings.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

namespace {

// New records are numbered above the ids 1..n of the stored ones.
constexpr int kNewRecordIdBase = 32768;
constexpr int kChecked = 2;
constexpr int kCodecRecheckMs = 400;

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

dlgSetupWindow::dlgSetupWindow(QWidget* parent)
    : QDialog(parent), ui(new Ui::dlgSetupWindow)
{
    ui->setupUi(this);
    ui->tabWidget->tabBar()->setAccessibleName(ui->tabWidget->accessibleName());
    // Hiding on close needs a tray icon to come back from; without one the
    // main window minimises instead, and says so here.
    ui->lblNoTray->setVisible(!QSystemTrayIcon::isSystemTrayAvailable());
    // A folder typed or pasted in is checked too, once the typing pauses
    // (the check starts the program found there).
    codecRecheck.setSingleShot(true);
    codecRecheck.setInterval(kCodecRecheckMs);
    connect(&codecRecheck, &QTimer::timeout, this, &dlgSetupWindow::runCodecCheck);
    connect(ui->lineEdit, &QLineEdit::textEdited, &codecRecheck, qOverload<>(&QTimer::start));
}

dlgSetupWindow::~dlgSetupWindow()
{
    delete ui;
}

void dlgSetupWindow::setContext(Settings* settingsObject, const QList<QByteArray>& names, Account* accountObject)
{
    settings = settingsObject;
    account = accountObject;
    presetNames = names;

    settings->renumberScanPaths();
    for (const ScanPath& record : settings->scanPaths())
        addPanel(record);

    ui->txtUsername->setText(QString::fromUtf8(settings->wUsername));
    ui->txtPassword->setText(QString::fromUtf8(settings->wPassword));
    ui->chkHideWhenClosed->setChecked(settings->hideWhenClosed);
    ui->spinParallelJobs->setValue(settings->parallelJobs);
    m_resetOnRestart = settings->resetOnRestart;
    ui->chkReset->setChecked(settings->resetOnRestart);
    ui->lineEdit->setText(QString::fromUtf8(settings->FFMPEGPath));
    runCodecCheck();
    passwordRevealed = false;
}

bool dlgSetupWindow::hideWhenClosed() const
{
    return ui->chkHideWhenClosed->isChecked();
}

void dlgSetupWindow::addPanel(const ScanPath& record)
{
    auto* panel = new scanPathWidget(this);
    panel->setPresetNames(presetNames);
    panel->loadFrom(record);
    if (watchWarning)
        panel->setWatchWarning(watchWarning(record.path));
    ui->verticalLayout_3->addWidget(panel);
    placeInTabOrder(panel);
    panels.append(Panel{panel, false});
    connect(panel, &scanPathWidget::delete_clicked, this, &dlgSetupWindow::btnDelete_clicked);
}

void dlgSetupWindow::placeInTabOrder(scanPathWidget* panel)
{
    QList<QWidget*> controls;
    for (QWidget* widget = panel->nextInFocusChain(); panel->isAncestorOf(widget); widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() != Qt::NoFocus)
            controls << widget;
    }
    QWidget* previous = lastPanelControl ? lastPanelControl : ui->scrollArea;
    for (QWidget* control : std::as_const(controls)) {
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
    lastPanelControl = previous;
}

// ---- OK ------------------------------------------------------------------------

void dlgSetupWindow::accept()
{
    if (!readPanels())
        return;
    QString replaceNotes;
    if (!checkPairs(replaceNotes) || !confirmUnwritableOutputs())
        return;
    askAboutNewInputFolders();

    m_username = ui->txtUsername->text().toUtf8();
    m_password = ui->txtPassword->text().toUtf8();
    m_ffmpegFolder = ui->lineEdit->text().toUtf8();
    m_resetOnRestart = ui->chkReset->isChecked();

    if (m_resetOnRestart)
        QMessageBox::information(this, tr("Setup"), tr("Settings will be reset when the program is restarted"));
    if (!replaceNotes.isEmpty())
        QMessageBox::warning(this, tr("Pre-process setting warning"),
                             tr("'Replace original file' was set for the following folder(s) that have more than "
                                "one instance. \nThis could result in noise reduction being applied multiple "
                                "times to the same file.\n\n")
                                 + replaceNotes);
    QDialog::accept();
}

void dlgSetupWindow::validationError(const QString& text, QWidget* panel)
{
    // The message names a folder: its panel is brought into view first.
    if (panel) {
        ui->tabWidget->setCurrentWidget(ui->tabFolders);
        ui->scrollArea->ensureWidgetVisible(panel);
    }
    QMessageBox::warning(this, tr("Validation Error"), text);
}

bool dlgSetupWindow::readPanels()
{
    resultList.clear();
    // Every live panel counts, whichever tab is shown and whether or not the
    // folders tab was ever opened.
    for (const Panel& panel : std::as_const(panels)) {
        if (panel.deleted)
            continue;
        ScanPath record;
        panel.widget->storeTo(record);
        QString refusal;
        if (!QFileInfo::exists(record.path))
            refusal = tr("The path ") + shown(record.path) + tr(" does not exist.");
        else if (!record.outputPath.isEmpty() && !QFileInfo::exists(record.outputPath))
            refusal = tr("The output path ") + shown(record.outputPath) + tr(" does not exist.");
        else if (!presetNames.isEmpty() && !presetNames.contains(record.preset))
            refusal = tr("The preset ") + QString::fromUtf8(record.preset) + tr(" is not valid.");
        else
            refusal = panel.widget->validationError();
        if (!refusal.isEmpty()) {
            validationError(refusal, panel.widget);
            return false;
        }
        resultList.append(record);
    }
    return true;
}

bool dlgSetupWindow::checkPairs(QString& replaceNotes)
{
    QString notes(QLatin1Char('\n'));
    for (const ScanPath& p : resultList) {
        for (const ScanPath& q : resultList) {
            if (p.id == q.id)
                continue;
            if (p.sameTarget(q)) {
                validationError(tr("Found duplicate: \n") + p.describe() + tr("\n...and...\n") + q.describe(),
                                panelOf(q.id));
                return false;
            }
            const bool replaces = p.preProcessing_Result == 0 || q.preProcessing_Result == 0;
            const QString line = shown(p.path) + QLatin1Char('\n');
            if (replaces && platform::isSamePath(p.path, q.path) && !notes.contains(QLatin1Char('\n') + line))
                notes += line;
        }
    }
    replaceNotes = notes.size() > 1 ? notes : QString();
    return true;
}

// A folder added here, or a panel that now watches another folder: the
// files already there are processed only if the user says so.
void dlgSetupWindow::askAboutNewInputFolders()
{
    const QList<ScanPath> stored = settings ? settings->scanPaths() : QList<ScanPath>();
    for (ScanPath& record : resultList) {
        const bool known = std::any_of(stored.cbegin(), stored.cend(), [&record](const ScanPath& before) {
            return before.id == record.id && platform::isSamePath(before.path, record.path);
        });
        if (!known)
            askAboutExistingFiles(this, record);
    }
}

QWidget* dlgSetupWindow::panelOf(int recordId) const
{
    for (const Panel& panel : panels) {
        if (!panel.deleted && panel.widget->spcID() == recordId)
            return panel.widget;
    }
    return nullptr;
}

// Results of a folder whose output folder this user may not write could
// never be saved (each would be uploaded and refused before it starts): the
// user may go back and choose another folder, or keep it (a share that will
// be writable later).
bool dlgSetupWindow::confirmUnwritableOutputs()
{
    QStringList unwritable;
    for (const ScanPath& record : std::as_const(resultList)) {
        const QFileInfo folder(record.outputFolder());
        const QString line = shown(record.outputFolder());
        if (folder.isDir() && !folder.isWritable() && !unwritable.contains(line))
            unwritable.append(line);
    }
    if (unwritable.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, tr("Output folder not writable"),
                    tr("Processed files cannot be saved in these output folders: this user may not write "
                       "to them.\n\n")
                        + unwritable.join(QLatin1Char('\n')),
                    QMessageBox::NoButton, this);
    QPushButton* keep = box.addButton(tr("Continue"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(tr("Go back"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == keep;
}

// ---- applying an accepted window -------------------------------------------------

void dlgSetupWindow::applyTo(Settings& target) const
{
    target.replaceScanPaths(resultList);
    target.hideWhenClosed = hideWhenClosed();
    target.parallelJobs = ui->spinParallelJobs->value();
    target.resetOnRestart = m_resetOnRestart;
    target.FFMPEGPath = m_ffmpegFolder;
}

bool dlgSetupWindow::applyCredentials(Account& target) const
{
    return target.changeCredentials(m_username, m_password);
}

// ---- buttons ---------------------------------------------------------------------

void dlgSetupWindow::on_btnAddNewPath_clicked()
{
    dlgAddNewFolderWizard wizard(false, this);
    wizard.setAccount(account);
    if (wizard.exec() != QDialog::Accepted || wizard.inputFolder().isEmpty())
        return;
    ScanPath record;
    record.id = kNewRecordIdBase + nextNewId++;
    record.path = wizard.inputFolder();
    record.outputPath = wizard.outputFolder();
    record.preset = wizard.preset().toUtf8();
    newRecords.append(record);
    addPanel(record);
}

void dlgSetupWindow::on_btnLogOut_clicked()
{
    ui->txtPassword->clear();
    account->logOut();
}

void dlgSetupWindow::btnDelete_clicked(scanPathWidget* sender, int widgetID, int spcID)
{
    qDebug().noquote() << "Delete clicked: " << widgetID << spcID;
    const auto answer = QMessageBox::question(
        this, tr("Delete watched folder"),
        tr("Stop watching %1? This takes effect when you press OK.").arg(sender->watchedFolder()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    for (Panel& panel : panels) {
        if (panel.widget == sender)
            panel.deleted = true;
    }
    // The panel stays alive (hidden) until the window closes.
    ui->verticalLayout_3->removeWidget(sender);
    sender->hide();
    ui->verticalLayout_3->update();
}

void dlgSetupWindow::on_chkReset_clicked(bool checked)
{
    if (!checked)
        return;
    const auto answer = QMessageBox::question(
        this, tr("Reset settings"),
        tr("When the program is next started, every setting and every watched folder is cleared and the log-in "
           "is asked for again. Files on disk and the queue stay.\n\nReset the settings?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        ui->chkReset->setChecked(false);
}

void dlgSetupWindow::on_chkShowPassword_stateChanged(int state)
{
    if (state != kChecked) {
        ui->txtPassword->setEchoMode(QLineEdit::Password);
        return;
    }
    if (passwordRevealed) {
        ui->txtPassword->setEchoMode(QLineEdit::Normal);
        return;
    }
    // The stored password is never shown: revealing the field erases it
    // first, and the field stays masked while the question is open.
    if (!ui->txtPassword->text().isEmpty()) {
        const auto answer = QMessageBox::question(
            this, tr("Show password"),
            tr("The current password will be erased, and the user logged out when the \nprogram is closed. "
               "Continue ?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            QTimer::singleShot(0, this, [this] { ui->chkShowPassword->setChecked(false); });
            return;
        }
    }
    ui->txtPassword->clear();
    passwordRevealed = true;
    ui->txtPassword->setEchoMode(QLineEdit::Normal);
}

void dlgSetupWindow::on_btnBrowseCodec_clicked()
{
    const QString program = platform::executableName(QStringLiteral("ffmpeg"));
    const QString filter = tr("Executable Files (%1)").arg(platform::executableName(QStringLiteral("*")));
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Open ffmpeg"), program, filter);
    if (chosen.isEmpty())
        return;
    ui->lineEdit->setText(QFileInfo(chosen).absolutePath());
    runCodecCheck();
}

void dlgSetupWindow::runCodecCheck()
{
    const bool found = codecCheck && codecCheck(ui->lineEdit->text());
    ui->lblPathCodecStatus->setText(found ? tr("Codec Found")
                                          : tr("Codec Not found - Video processing will be disabled"));
    // The colours live in the style sheet, chosen for contrast with its backgrounds.
    QLabel* status = ui->lblPathCodecStatus;
    status->setProperty("codecFound", found);
    status->style()->unpolish(status);
    status->style()->polish(status);
}
