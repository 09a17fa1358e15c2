#include "dialogs/dlgaddmultplefiles.h"
#include "ui_dlgaddmultplefiles.h"

#include "settings/naming.h"
#include "settings/scanpath.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

const char* const kRowId = "ID";
const char* const kRowName = "NAME";
// Full path of the row's file: rows of a drop may come from several folders,
// so the source is never rebuilt from one folder and the shown name.
const char* const kRowSource = "SOURCE";

// The widget of a file row that carries the given NAME property.
template <typename T>
T* rowWidget(QLayout* row, const char* name)
{
    for (int i = 0; i < row->count(); ++i) {
        QWidget* widget = row->itemAt(i)->widget();
        if (widget && widget->property(kRowName).toString() == QLatin1String(name))
            return qobject_cast<T*>(widget);
    }
    return nullptr;
}

template <typename T>
T* tagged(T* widget, int id, const char* name)
{
    widget->setProperty(kRowId, id);
    widget->setProperty(kRowName, QString::fromLatin1(name));
    return widget;
}

} // namespace

DlgAddMultpleFiles::DlgAddMultpleFiles(QWidget* parent, bool manualMode)
    : QDialog(parent), m_manualMode(manualMode), ui(new Ui::DlgAddMultpleFiles)
{
    ui->setupUi(this);
    ui->filesLayout->setAlignment(Qt::AlignTop);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DlgAddMultpleFiles::validateInput);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (m_manualMode) {
        ui->lblInfo->hide();
        ui->chkShowDialog->hide();
        return;
    }
    // "Save in original location" only makes sense for dropped files.
    while (QLayoutItem* item = ui->horizontalLayout_4->takeAt(0)) {
        if (item->widget())
            item->widget()->hide();
        delete item;
    }
}

DlgAddMultpleFiles::~DlgAddMultpleFiles()
{
    delete ui;
}

void DlgAddMultpleFiles::setPresetNames(const QList<QByteArray>& names)
{
    m_presetNames = names;
}

void DlgAddMultpleFiles::setFolder(const ScanPath& scanPath)
{
    m_sourceFolder = scanPath.path;
    m_saveToFolder = scanPath.outputFolder();
    ui->lblInfo->setText(QStringLiteral("Source folder: ") + m_sourceFolder);
    ui->lblDestFolder->setText(QStringLiteral("Save to: ") + m_saveToFolder);
    ui->txtSuffix->setText(scanPath.outputSuffix);
}

void DlgAddMultpleFiles::addRow(const QString& source, const QString& destination, const QString& proposedPreset,
                                const QString& shownName)
{
    const int id = m_rowCounter;
    auto* row = new QHBoxLayout;

    const QString name = shownName.isEmpty() ? QFileInfo(source).fileName() : shownName;
    auto* check = tagged(new QCheckBox(name, ui->scrollAreaWidgetContents), id, "chkFilename");
    check->setProperty(kRowSource, QDir::toNativeSeparators(source));
    check->setChecked(true);
    row->addWidget(check);

    auto* combo = tagged(new QComboBox(ui->scrollAreaWidgetContents), id, "comboPreset");
    combo->setAccessibleName(tr("Preset for %1").arg(check->text()));
    for (const QByteArray& name : m_presetNames)
        combo->addItem(QString::fromUtf8(name));
    const int proposed = combo->findText(proposedPreset, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (combo->count() > 0)
        combo->setCurrentIndex(proposed < 0 ? 0 : proposed);
    row->addWidget(combo);

    auto* label = tagged(new QLabel(QStringLiteral("save as: "), ui->scrollAreaWidgetContents), id, "lblSaveAs");
    label->hide();
    row->addWidget(label);

    auto* saveAs = tagged(new QLineEdit(saveAsText(destination), ui->scrollAreaWidgetContents), id,
                          "txtSaveAs");
    saveAs->hide();
    row->addWidget(saveAs);

    ui->filesLayout->addLayout(row);
    ++m_rowCounter;

    // Rows are added after the form was built: without this they would
    // come last when tabbing, after OK and Cancel.
    QWidget::setTabOrder(m_lastRowControl ? m_lastRowControl : ui->scrollArea, check);
    QWidget::setTabOrder(check, combo);
    QWidget::setTabOrder(combo, saveAs);
    m_lastRowControl = saveAs;
}

QString DlgAddMultpleFiles::saveAsText(const QString& destination) const
{
    if (m_saveToFolder.isEmpty() || !QFileInfo(destination).isAbsolute())
        return QFileInfo(destination).fileName();
    const QString relative = QDir(m_saveToFolder).relativeFilePath(destination);
    if (relative.startsWith(QLatin1String("..")) || QFileInfo(relative).isAbsolute())
        return QFileInfo(destination).fileName();
    return QDir::toNativeSeparators(relative);
}

QList<NewFileEntry> DlgAddMultpleFiles::getResults() const
{
    QList<NewFileEntry> results;
    const QString suffix = ui->txtSuffix->text();
    for (int i = 0; i < ui->filesLayout->count(); ++i) {
        QLayout* row = ui->filesLayout->itemAt(i)->layout();
        auto* check = row ? rowWidget<QCheckBox>(row, "chkFilename") : nullptr;
        auto* combo = row ? rowWidget<QComboBox>(row, "comboPreset") : nullptr;
        auto* saveAs = row ? rowWidget<QLineEdit>(row, "txtSaveAs") : nullptr;
        if (!check || !combo || !saveAs || !check->isChecked())
            continue;
        const QString source = check->property(kRowSource).toString();
        const QString preset = combo->currentText();
        // The suffix goes into the file name; a subfolder in front stays.
        const QFileInfo saveAsPath(QDir::fromNativeSeparators(saveAs->text()));
        const QString folder = saveAsPath.path() == QLatin1String(".") ? QString() : saveAsPath.path() + QLatin1Char('/');
        const QString name = naming::insertSuffix(saveAsPath.fileName(), suffix);
        if (source.isEmpty() || preset.isEmpty() || saveAs->text().isEmpty())
            continue;
        NewFileEntry entry;
        entry.source = source;
        entry.destination = QDir::toNativeSeparators(
            QDir(m_saveToFolder).filePath(folder + naming::expandNameTemplate(name, preset)));
        entry.preset = preset;
        results.append(entry);
    }
    return results;
}

QString DlgAddMultpleFiles::suffixText() const
{
    return ui->txtSuffix->text();
}

bool DlgAddMultpleFiles::dontShowAgainChecked() const
{
    return ui->chkShowDialog->isChecked();
}

void DlgAddMultpleFiles::validateInput()
{
    const bool originalLocation = m_manualMode && ui->chkSaveToOriginalLocation->isChecked();
    if (!originalLocation && !QFileInfo(m_saveToFolder).isDir()) {
        QMessageBox::warning(this, QStringLiteral("Invalid path"), QStringLiteral("Folder doesn't exist: ") + m_saveToFolder);
        return;
    }

    QString missing;
    for (int i = 0; i < ui->filesLayout->count(); ++i) {
        QLayout* row = ui->filesLayout->itemAt(i)->layout();
        if (!row)
            continue;
        auto* combo = rowWidget<QComboBox>(row, "comboPreset");
        auto* saveAs = rowWidget<QLineEdit>(row, "txtSaveAs");
        if (combo && combo->currentIndex() < 0)
            missing += QStringLiteral("Preset combobox\n");
        if (saveAs && saveAs->text().isEmpty())
            missing += QStringLiteral("File name\n");
    }
    if (!missing.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Validation Error"),
                             QStringLiteral("Please fill in all required fields:\n") + missing);
        return;
    }

    m_saveInOriginalLocation = ui->chkSaveToOriginalLocation->isChecked();
    accept();
}

void DlgAddMultpleFiles::on_btnDestBrowse_clicked()
{
    const QString start = QFileInfo(m_saveToFolder).isDir() ? m_saveToFolder : QDir::homePath();
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Save to"), start);
    if (chosen.isEmpty())
        return;
    m_saveToFolder = QDir::toNativeSeparators(chosen);
    ui->lblDestFolder->setText(QStringLiteral("Save to: ") + m_saveToFolder);
}
