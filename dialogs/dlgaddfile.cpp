#include "dialogs/dlgaddfile.h"
#include "driver/queuecommands.h"
#include "ui_dlgaddfile.h"

#include "settings/naming.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

const QString kAudioFilter = QStringLiteral("Audio files (*.wav *.m4a *.mp3)");

} // namespace

dlgAddFile::dlgAddFile(QWidget* parent)
    : QDialog(parent), ui(new Ui::dlgAddFile)
{
    ui->setupUi(this);
    connect(ui->comboPreset, &QComboBox::currentTextChanged, this, &dlgAddFile::showDestination);
}

dlgAddFile::~dlgAddFile()
{
    delete ui;
}

void dlgAddFile::setContext(const QString& source, const QString& destination,
                            const QList<QByteArray>& names, const QByteArray& currentPreset)
{
    m_sourcePath = source;
    ui->lblSrcFile->setText(source);
    setDestination(destination);
    presetNames = names;
    ui->comboPreset->clear();
    for (const QByteArray& name : names)
        ui->comboPreset->addItem(QString::fromUtf8(name));
    if (ui->comboPreset->count() == 0)
        return;
    const int wanted = currentPreset.isEmpty() ? 0 : ui->comboPreset->findText(QString::fromUtf8(currentPreset));
    ui->comboPreset->setCurrentIndex(wanted < 0 ? 0 : wanted);
}

void dlgAddFile::showSourceAs(const QString& shown)
{
    ui->lblSrcFile->setText(shown);
}

void dlgAddFile::focusPresetList()
{
    ui->comboPreset->setFocus(Qt::OtherFocusReason);
}

QStringList dlgAddFile::chooseSources(QWidget* parent, const QString& folder)
{
    const QString start = folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder;
    return QFileDialog::getOpenFileNames(parent, tr("Browse File..."), start, kAudioFilter);
}

void dlgAddFile::on_btnBrowseSrc_clicked()
{
    // The browser starts in the user's home folder unless a source is known.
    const QFileInfo current(m_sourcePath);
    const QString startFolder = current.isFile() ? current.absolutePath() : QDir::homePath();
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Browse File..."), startFolder, kAudioFilter);
    if (chosen.isEmpty())
        return;
    m_sourcePath = QDir::toNativeSeparators(chosen);
    ui->lblSrcFile->setText(m_sourcePath);
    if (QFileInfo(m_destinationTemplate).isDir())
        return;
    setDestination(QueueCommands::proposedDestination(chosen, QFileInfo(chosen).completeSuffix()));
}

void dlgAddFile::setDestination(const QString& destination)
{
    m_destinationTemplate = destination;
    showDestination();
}

void dlgAddFile::showDestination()
{
    const QString preset = ui->comboPreset->currentText();
    ui->lblDestFile->setText(preset.isEmpty() ? m_destinationTemplate
                                              : QDir::toNativeSeparators(naming::expandNameTemplateInPath(
                                                    m_destinationTemplate, preset)));
}

void dlgAddFile::on_btnBrowseDest_clicked()
{
    const QFileInfo current(m_destinationTemplate);
    const bool known = current.exists() || current.absoluteDir().exists();
    const QString startFolder = known ? current.absolutePath() : QDir::homePath();
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Save as..."), startFolder, kAudioFilter);
    if (!chosen.isEmpty())
        setDestination(QDir::toNativeSeparators(chosen));
}

void dlgAddFile::accept()
{
    const QString source = m_sourcePath;
    const QString destination = m_destinationTemplate;
    if (!QFileInfo(source).isFile()) {
        QMessageBox::warning(this, tr("Error"), tr("The source file does not exist."));
        return;
    }
    if (!QFileInfo(destination).absoluteDir().exists()) {
        QMessageBox::warning(this, tr("Error"), tr("The destination folder does not exist."));
        return;
    }
    m_source = source;
    m_destination = destination;
    m_preset = ui->comboPreset->currentText();
    QDialog::accept();
}
