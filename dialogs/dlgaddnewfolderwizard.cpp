#include "dialogs/dlgaddnewfolderwizard.h"

#include "driver/account.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWizardPage>

namespace {

constexpr int kPresetPollMs = 100;
constexpr int kWatermarkSize = 100;

const char* const kSummaryTemplate =
    "The folder \"{f1}\" will be watched by the application.\n\n"
    "Files detected will be submitted to Sonvira using preset \"{preset}\"\n\n"
    "The processed file from Sonvira will be stored at \"{f2}\"   \n\n"
    "You will be able to modify these settings using the File->Setup menu";

} // namespace

dlgAddNewFolderWizard::dlgAddNewFolderWizard(bool welcomeMode, QWidget* parent)
    : QWizard(parent)
{
    // The window's name, for the task bar and a screen reader.
    setWindowTitle(tr("Watch folder"));
    setOption(QWizard::IgnoreSubTitles);
    // Scaled from the larger of the image's two drawings to the watermark's
    // size in device pixels, so it stays sharp on a scaled screen.
    const QPixmap watermark(QStringLiteral(":/images/watchfolder@2x.png"));
    if (!watermark.isNull()) {
        const qreal ratio = devicePixelRatioF();
        const int side = qRound(kWatermarkSize * ratio);
        QPixmap scaled = watermark.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        setPixmap(QWizard::WatermarkPixmap, scaled);
    }

    // Drives and folders from the top of the file system (all drives on
    // Windows, "/" elsewhere); hidden folders stay out of the list.
    folders = new QFileSystemModel(this);
    folders->setFilter(QDir::Drives | QDir::Dirs | QDir::NoDotAndDotDot);
    folders->setRootPath(QString());

    addStartPage(welcomeMode);
    inputTree = addFolderPage(InputPage, tr("Select the input folder"),
                              tr("Please select the folder that will be monitored for new files"));
    outputTree = addFolderPage(OutputPage, tr("Select the output folder"),
                               tr("Please select the folder where the processed files from Sonvira will be stored"));
    addPresetPage();
    auto* finished = new QWizardPage(this);
    finished->setTitle(tr("Finished"));
    finished->setSubTitle(QStringLiteral("."));
    pageLayout(finished)->addStretch();
    setPage(FinishedPage, finished);

    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &dlgAddNewFolderWizard::pollPresets);
    poll->start(kPresetPollMs);
}

QVBoxLayout* dlgAddNewFolderWizard::pageLayout(QWizardPage* page)
{
    // The wizard's own header has room for two lines of subtitle only, too
    // little for the welcome text and the summary: each page shows its
    // subtitle in a label of its own, which wraps and grows.
    auto* layout = new QVBoxLayout(page);
    auto* subTitle = new QLabel(page->subTitle(), page);
    subTitle->setObjectName(QStringLiteral("lblSubTitle"));
    subTitle->setTextFormat(Qt::PlainText);
    subTitle->setWordWrap(true);
    layout->addWidget(subTitle);
    return layout;
}

void dlgAddNewFolderWizard::addStartPage(bool welcomeMode)
{
    auto* page = new QWizardPage(this);
    if (welcomeMode) {
        page->setTitle(tr("Welcome"));
        page->setSubTitle(tr("This window will help you set up a folder that will be watched by the "
                             "application.\n\nFiles saved to this folder, will be automatically submitted to "
                             "Sonvira, and the processed audio saved back to this computer."));
    } else {
        page->setTitle(tr("Watch folder"));
        page->setSubTitle(tr("This window will help you set up a folder that will be watched by the application."));
    }
    QVBoxLayout* layout = pageLayout(page);
    lblStatus = new QLabel(QStringLiteral("-"), page);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    layout->addWidget(lblStatus);
    if (welcomeMode) {
        layout->addStretch();
        chkDontShowAgain = new QCheckBox(tr("Don't show this again"), page);
        chkDontShowAgain->setObjectName(QStringLiteral("chkDontShowAgain"));
        layout->addWidget(chkDontShowAgain);
    }
    setPage(StartPage, page);
}

QTreeView* dlgAddNewFolderWizard::addFolderPage(PageId id, const QString& title, const QString& subTitle)
{
    auto* page = new QWizardPage(this);
    page->setTitle(title);
    page->setSubTitle(subTitle);
    QVBoxLayout* layout = pageLayout(page);
    auto* tree = new QTreeView(page);
    tree->setAccessibleName(title);
    tree->setModel(folders);
    for (int column = 1; column < folders->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->setStretchLastSection(true);
    layout->addWidget(tree);
    setPage(id, page);

    // The user's home folder is shown at first, not chosen: clicking
    // straight through must not watch (and submit) the whole home folder.
    // The view is scrolled again once the folders above it have been listed.
    const QString home = QDir::homePath();
    tree->scrollTo(folders->index(home));
    connect(folders, &QFileSystemModel::directoryLoaded, tree, [tree, home, this](const QString& loaded) {
        if (home.startsWith(loaded) && !tree->selectionModel()->hasSelection())
            tree->scrollTo(folders->index(home));
    });
    return tree;
}

void dlgAddNewFolderWizard::addPresetPage()
{
    auto* page = new QWizardPage(this);
    page->setTitle(tr("Preset"));
    page->setSubTitle(tr("Select the preset that will be used by default for new files detected at this watched "
                         "folder."));
    QVBoxLayout* layout = pageLayout(page);
    cmbPreset = new QComboBox(page);
    cmbPreset->setObjectName(QStringLiteral("cmbPreset"));
    cmbPreset->setAccessibleName(tr("Preset"));
    layout->addWidget(cmbPreset);
    layout->addStretch();
    setPage(PresetPage, page);
}

void dlgAddNewFolderWizard::setAccount(const Account* accountObject)
{
    account = accountObject;
    // Presets known already make the first page usable at once.
    pollPresets();
}

void dlgAddNewFolderWizard::pollPresets()
{
    if (presetsReady || !account)
        return;
    const QList<QByteArray> presets = account->presets();
    if (presets.isEmpty()) {
        lblStatus->setText(tr("Waiting for presets..."));
        return;
    }
    for (const QByteArray& name : presets)
        cmbPreset->addItem(QString::fromUtf8(name));
    lblStatus->setText(tr("Click next to continue."));
    presetsReady = true;
}

bool dlgAddNewFolderWizard::takeSelectedFolder(QTreeView* tree, QString& folder)
{
    const QModelIndexList selected = tree->selectionModel()->selectedRows();
    const QString path = selected.isEmpty() ? QString() : folders->filePath(selected.first());
    if (path.isEmpty()) {
        QMessageBox::warning(this, QString(), tr("Please select a folder"));
        return false;
    }
    folder = path;
    return true;
}

QString dlgAddNewFolderWizard::summary() const
{
    QString text = tr(kSummaryTemplate);
    text.replace(QLatin1String("{f1}"), m_inputFolder);
    text.replace(QLatin1String("{f2}"), m_outputFolder);
    text.replace(QLatin1String("{preset}"), m_preset);
    return text;
}

bool dlgAddNewFolderWizard::validateCurrentPage()
{
    switch (currentId()) {
    case StartPage:
        return presetsReady;
    case InputPage:
        return takeSelectedFolder(inputTree, m_inputFolder);
    case OutputPage:
        return takeSelectedFolder(outputTree, m_outputFolder);
    case PresetPage:
        if (cmbPreset->currentIndex() < 0) {
            QMessageBox::warning(this, QString(), tr("Please select a preset"));
            return false;
        }
        m_preset = cmbPreset->currentText();
        page(FinishedPage)->setSubTitle(summary());
        page(FinishedPage)->findChild<QLabel*>(QStringLiteral("lblSubTitle"))->setText(summary());
        return true;
    case FinishedPage:
        return true;
    default:
        return false;
    }
}

QString dlgAddNewFolderWizard::inputFolder() const
{
    return QDir::toNativeSeparators(m_inputFolder);
}

QString dlgAddNewFolderWizard::outputFolder() const
{
    return QDir::toNativeSeparators(m_outputFolder);
}

bool dlgAddNewFolderWizard::showAgain() const
{
    return !chkDontShowAgain || !chkDontShowAgain->isChecked();
}
