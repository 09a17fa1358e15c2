#include "dialogs/scanpathwidget.h"

#include "settings/folderoptionlines.h"

#include "settings/scanpath.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

#include <algorithm>
#include <cmath>

namespace {

// Every bit rate the MP3 encoder accepts.
const QStringList kBitRates{QStringLiteral("32"),  QStringLiteral("64"),  QStringLiteral("96"),
                            QStringLiteral("128"), QStringLiteral("160"), QStringLiteral("192"),
                            QStringLiteral("224"), QStringLiteral("256"), QStringLiteral("320")};
const QString kDefaultBitRate = QStringLiteral("96");
constexpr int kCaptionWidth = 60;
constexpr int kFrameCaptionWidth = 100;
constexpr int kIndent = 32;
// What a line edit needs around its text: the dark style's padding
// (4 px a side) and border (1 px), and the edit's own margins.
constexpr int kEditChrome = 2 * (4 + 1 + 2) + 4;
constexpr int kLighter = 20;

// Panels are numbered process-wide; only the GUI thread creates them.
int nextWidgetID = 1000;

void setObject(QWidget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
}

// The width at which the edit shows `sample` whole.
int widthFor(const QLineEdit* edit, const QString& sample)
{
    return edit->fontMetrics().horizontalAdvance(sample) + kEditChrome;
}

} // namespace

scanPathWidget::scanPathWidget(QWidget* parent)
    : QWidget(parent), m_widgetID(nextWidgetID++)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    auto* column = new QVBoxLayout(this);

    chkEnabled = new QCheckBox(tr("Enabled"), this);
    setObject(chkEnabled, "chkEnabled");
    chkEnabled->setChecked(true);

    lblWatchWarning = new QLabel(this);
    setObject(lblWatchWarning, "lblWatchWarning");
    lblWatchWarning->setWordWrap(true);
    lblWatchWarning->hide();
    column->addWidget(lblWatchWarning);

    buildLocationRows(column);
    buildPresetRows(column);
    buildMp3Rows(column);
    buildMonoRow(column);
    buildNormaliseRow(column);
    column->addWidget(buildNoiseFrame());
    column->addWidget(buildResultFrame());

    rdoCreateNrSuffix->setChecked(true);
    connect(rdoCreateNrSuffix, &QRadioButton::toggled, this, &scanPathWidget::handleCreateWSuffixToggled);
}

void scanPathWidget::setWatchWarning(const QString& text)
{
    lblWatchWarning->setText(text);
    lblWatchWarning->setVisible(!text.isEmpty());
}

QString scanPathWidget::watchedFolder() const
{
    return lblWatchedPath->text();
}

QHBoxLayout* scanPathWidget::addRow(QBoxLayout* column)
{
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    return row;
}

QLabel* scanPathWidget::wideLabel(const QString& text)
{
    auto* label = new QLabel(text, this);
    QFont wide = font();
    wide.setPointSize(int(wide.pointSizeF() * 1.2));
    label->setFont(wide);
    return label;
}

QToolButton* scanPathWidget::browseButton(const QString& name)
{
    auto* button = new QToolButton(this);
    button->setText(QStringLiteral("..."));
    button->setStatusTip(tr("Browse"));
    button->setToolTip(name);
    button->setAccessibleName(name);
    return button;
}

QLabel* scanPathWidget::captionFor(const QString& text, QWidget* control, QWidget* parent)
{
    auto* label = new QLabel(text, parent ? parent : this);
    label->setBuddy(control);
    return label;
}

void scanPathWidget::buildLocationRows(QBoxLayout* column)
{
    QHBoxLayout* watched = addRow(column);
    QLabel* watchedCaption = wideLabel(tr("Watched: "));
    watchedCaption->setFixedWidth(kCaptionWidth);
    watched->addWidget(watchedCaption);
    lblWatchedPath = wideLabel(QString());
    setObject(lblWatchedPath, "lblWatchedPath");
    watched->addWidget(lblWatchedPath);
    watched->addStretch();
    watched->addWidget(chkEnabled);
    auto* btnDelete = new QToolButton(this);
    setObject(btnDelete, "btnDelete");
    btnDelete->setText(tr("Delete"));
    watched->addWidget(btnDelete);
    QToolButton* btnBrowseWatched = browseButton(tr("Choose the watched folder"));
    setObject(btnBrowseWatched, "btnBrowseWatched");
    watched->addWidget(btnBrowseWatched);

    QHBoxLayout* output = addRow(column);
    QLabel* outputCaption = wideLabel(tr("Save to: "));
    outputCaption->setFixedWidth(kCaptionWidth);
    output->addWidget(outputCaption);
    lblOutputPath = wideLabel(QString());
    setObject(lblOutputPath, "lblOutputPath");
    lblOutputPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    output->addWidget(lblOutputPath);
    QToolButton* btnBrowseOutput = browseButton(tr("Choose the folder to save to"));
    setObject(btnBrowseOutput, "btnBrowseOutput");
    output->addWidget(btnBrowseOutput);

    connect(btnDelete, &QToolButton::clicked, this, &scanPathWidget::btnDelete_clicked);
    connect(btnBrowseWatched, &QToolButton::clicked, this, &scanPathWidget::browseWatchedFolder_clicked);
    connect(btnBrowseOutput, &QToolButton::clicked, this, &scanPathWidget::browseOutput_clicked);
}

void scanPathWidget::buildPresetRows(QBoxLayout* column)
{
    QHBoxLayout* dialogRow = addRow(column);
    chkShowDialog = new QCheckBox(tr("Show Dialog"), this);
    setObject(chkShowDialog, "chkShowDialog");
    dialogRow->addWidget(chkShowDialog);
    dialogRow->addWidget(
        new QLabel(tr("   If set, will show a dialog asking the preset for each new file detected"), this));
    dialogRow->addStretch();

    QHBoxLayout* subfolderRow = addRow(column);
    chkRecursive = new QCheckBox(tr("Include subfolders"), this);
    setObject(chkRecursive, "chkRecursive");
    subfolderRow->addWidget(chkRecursive);
    subfolderRow->addSpacing(kIndent);
    // Where the system cannot tell whether a file is still being written
    // (network shares, files of other users), this is how long it must stay
    // the same before it is taken.
    spnSettleSeconds = new QSpinBox(this);
    setObject(spnSettleSeconds, "spnSettleSeconds");
    spnSettleSeconds->setRange(0, ScanPath::kMaxSettleSeconds);
    spnSettleSeconds->setValue(ScanPath::kDefaultSettleSeconds);
    spnSettleSeconds->setPrefix(tr("Wait until files are unchanged for "));
    spnSettleSeconds->setSuffix(tr(" s"));
    spnSettleSeconds->setAccessibleName(tr("Seconds a file must stay unchanged"));
    subfolderRow->addWidget(spnSettleSeconds);
    subfolderRow->addStretch();

    QHBoxLayout* presetRow = addRow(column);
    cmbPreset = new QComboBox(this);
    presetRow->addWidget(captionFor(tr("Preset"), cmbPreset));
    setObject(cmbPreset, "cmbPreset");
    cmbPreset->setEditable(false);
    presetRow->addWidget(cmbPreset);
    presetRow->addStretch();
    txtSuffix = new QLineEdit(this);
    presetRow->addWidget(captionFor(tr("Suffix: "), txtSuffix));
    setObject(txtSuffix, "txtSuffix");
    // The default template shows whole; longer ones scroll.
    txtSuffix->setMinimumWidth(widthFor(txtSuffix, QStringLiteral("-{presetName}")));
    txtSuffix->setMaximumWidth(widthFor(txtSuffix, QStringLiteral("-{presetName} {date} {time}")));
    txtSuffix->setMaxLength(50);
    presetRow->addWidget(txtSuffix);
}

void scanPathWidget::buildMp3Rows(QBoxLayout* column)
{
    QHBoxLayout* encodeRow = addRow(column);
    chkConvertToMp3 = new QCheckBox(tr("Convert to mp3"), this);
    setObject(chkConvertToMp3, "chkConvertToMp3");
    encodeRow->addWidget(chkConvertToMp3);
    encodeRow->addSpacing(kIndent);
    cmbBitRate = new QComboBox(this);
    encodeRow->addWidget(captionFor(tr("Bitrate:"), cmbBitRate));
    setObject(cmbBitRate, "cmbBitRate");
    cmbBitRate->addItems(kBitRates);
    cmbBitRate->setCurrentText(kDefaultBitRate);
    encodeRow->addWidget(cmbBitRate);
    encodeRow->addStretch();
    txtMp3Suffix = new QLineEdit(this);
    encodeRow->addWidget(captionFor(tr("Optional MP3 Suffix: "), txtMp3Suffix));
    setObject(txtMp3Suffix, "txtMp3Suffix");
    encodeRow->addWidget(txtMp3Suffix);

    QHBoxLayout* deleteRow = addRow(column);
    deleteRow->addSpacing(kIndent);
    chkDeleteWav = new QCheckBox(tr("Delete processed WAVE files after encoding"), this);
    setObject(chkDeleteWav, "chkDeleteWav");
    deleteRow->addWidget(chkDeleteWav);
    deleteRow->addStretch();
}

void scanPathWidget::buildMonoRow(QBoxLayout* column)
{
    QHBoxLayout* row = addRow(column);
    row->addWidget(new QLabel(tr("Mono audio processing: "), this));
    chkConvertMono = new QCheckBox(tr("Convert mono files to stereo before submitting"), this);
    setObject(chkConvertMono, "chkConvertMono");
    row->addWidget(chkConvertMono);
    chkKeepStereo = new QCheckBox(tr("Keep stereo files from Sonvira"), this);
    setObject(chkKeepStereo, "chkKeepStereo");
    row->addWidget(chkKeepStereo);
    row->addStretch();
}

void scanPathWidget::buildNormaliseRow(QBoxLayout* column)
{
    QHBoxLayout* row = addRow(column);
    row->addWidget(new QLabel(tr("Post-Normalise: "), this));
    for (const folderoptions::Choice& target : folderoptions::loudnessTargets()) {
        auto* box = new QCheckBox(tr(target.label), this);
        row->addWidget(box);
        normaliseBoxes.append(box);
    }
    row->addStretch();

    // Normalised outputs keep their true peak at or below the ceiling.
    QHBoxLayout* ceilingRow = addRow(column);
    chkTruePeakCeiling = new QCheckBox(tr("Limit true peak to"), this);
    setObject(chkTruePeakCeiling, "chkTruePeakCeiling");
    ceilingRow->addWidget(chkTruePeakCeiling);
    spnTruePeakCeiling = new QDoubleSpinBox(this);
    setObject(spnTruePeakCeiling, "spnTruePeakCeiling");
    spnTruePeakCeiling->setRange(ScanPath::kMinTruePeakCeiling, ScanPath::kMaxTruePeakCeiling);
    spnTruePeakCeiling->setDecimals(1);
    spnTruePeakCeiling->setSingleStep(0.1);
    spnTruePeakCeiling->setSuffix(tr(" dBTP"));
    spnTruePeakCeiling->setAccessibleName(tr("True peak limit"));
    spnTruePeakCeiling->setValue(ScanPath::kDefaultTruePeakCeiling);
    spnTruePeakCeiling->setEnabled(false);
    ceilingRow->addWidget(spnTruePeakCeiling);
    ceilingRow->addStretch();
    connect(chkTruePeakCeiling, &QCheckBox::toggled, spnTruePeakCeiling, &QWidget::setEnabled);
}

QFrame* scanPathWidget::framedBox(const QString& caption, QVBoxLayout*& buttons)
{
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    frame->setLineWidth(2);
    auto* layout = new QHBoxLayout(frame);
    auto* label = new QLabel(caption, frame);
    label->setWordWrap(true);
    label->setFixedWidth(kFrameCaptionWidth);
    layout->addWidget(label);
    buttons = new QVBoxLayout;
    layout->addLayout(buttons);
    return frame;
}

QFrame* scanPathWidget::buildNoiseFrame()
{
    // The four buttons share the frame as parent, which makes them
    // exclusive among themselves and independent of the result buttons.
    QVBoxLayout* buttons = nullptr;
    QFrame* frame = framedBox(tr("Noise reduction pre-process: "), buttons);
    for (const folderoptions::Choice& mode : folderoptions::noiseModes()) {
        auto* button = new QRadioButton(tr(mode.label), frame);
        noiseButtons.append(button);
    }
    rdoCustom = noiseButtons.last();
    for (QRadioButton* button : std::as_const(noiseButtons)) {
        if (button != rdoCustom)
            buttons->addWidget(button);
    }
    auto* customRow = new QHBoxLayout;
    buttons->addLayout(customRow);
    customRow->addWidget(rdoCustom);
    customRow->addSpacing(10);
    txtSpeechToMusic = new QLineEdit(QStringLiteral("0.5"), frame);
    txtSpeechToMusic->setAccessibleName(tr("Custom speech to music seconds"));
    customRow->addWidget(captionFor(tr("S->M"), txtSpeechToMusic, frame));
    setObject(txtSpeechToMusic, "txtSpeechToMusic");
    // Room for any stored value: at most six significant digits.
    txtSpeechToMusic->setFixedWidth(widthFor(txtSpeechToMusic, QStringLiteral("0.00000")));
    customRow->addWidget(txtSpeechToMusic);
    customRow->addSpacing(10);
    txtMusicToSpeech = new QLineEdit(QStringLiteral("1.0"), frame);
    txtMusicToSpeech->setAccessibleName(tr("Custom music to speech seconds"));
    customRow->addWidget(captionFor(tr("M->S"), txtMusicToSpeech, frame));
    setObject(txtMusicToSpeech, "txtMusicToSpeech");
    txtMusicToSpeech->setFixedWidth(widthFor(txtMusicToSpeech, QStringLiteral("0.00000")));
    customRow->addWidget(txtMusicToSpeech);
    customRow->addStretch();
    return frame;
}

QFrame* scanPathWidget::buildResultFrame()
{
    QVBoxLayout* buttons = nullptr;
    QFrame* frame = framedBox(tr("Pre-process result:"), buttons);
    rdoReplaceOriginal = new QRadioButton(tr("Replace original file"), frame);
    setObject(rdoReplaceOriginal, "rdoReplaceOriginal");
    rdoCreateNrSuffix = new QRadioButton(tr("Create a file with NR suffix"), frame);
    setObject(rdoCreateNrSuffix, "rdoCreateNrSuffix");
    auto* group = new QButtonGroup(frame);
    group->addButton(rdoReplaceOriginal);
    group->addButton(rdoCreateNrSuffix);
    buttons->addWidget(rdoReplaceOriginal);
    buttons->addWidget(rdoCreateNrSuffix);
    auto* deleteRow = new QHBoxLayout;
    buttons->addLayout(deleteRow);
    deleteRow->addSpacing(kIndent);
    chkDeleteAfterSubmission = new QCheckBox(tr("Delete file after submission"), frame);
    setObject(chkDeleteAfterSubmission, "chkDeleteAfterSubmission");
    deleteRow->addWidget(chkDeleteAfterSubmission);
    deleteRow->addStretch();
    return frame;
}

void scanPathWidget::setPresetNames(const QList<QByteArray>& names)
{
    presetNames = names;
    for (const QByteArray& name : names)
        cmbPreset->addItem(QString::fromUtf8(name), name);
}

// ---- loading ---------------------------------------------------------------

void scanPathWidget::loadFrom(const ScanPath& record)
{
    chkEnabled->setChecked(record.enabled);
    lblWatchedPath->setText(record.path);
    loadPreset(record.preset);

    lblOutputPath->setText(record.outputFolder());
    txtSuffix->setText(record.outputSuffix);
    chkShowDialog->setChecked(record.showDialog);
    chkRecursive->setChecked(record.recursive);
    spnSettleSeconds->setValue(record.settleSeconds);
    chkConvertToMp3->setChecked(record.encodeToMP3);
    const int bitRateIndex = cmbBitRate->findText(record.encodeToMP3_bitRate, Qt::MatchFixedString);
    if (bitRateIndex >= 0)
        cmbBitRate->setCurrentIndex(bitRateIndex);
    txtMp3Suffix->setText(record.encodeToMP3_suffix);

    loadNormalisation(record.postProcessing_Arguments);
    const bool ceiling = !std::isnan(record.truePeakCeiling);
    chkTruePeakCeiling->setChecked(ceiling);
    spnTruePeakCeiling->setValue(ceiling ? record.truePeakCeiling : ScanPath::kDefaultTruePeakCeiling);
    loadNoiseReduction(record.preProcessing_Arguments);
    loadPreProcessResult(record.preProcessing_Result);

    chkDeleteWav->setChecked(record.deleteWAVafterMP3Encoding);
    chkConvertMono->setChecked(record.monoProcessing_ConvertToDualStereo);
    chkKeepStereo->setChecked(record.monoProcessing_KeepConverted);
    m_spcID = record.id;
}

void scanPathWidget::loadPreset(const QByteArray& stored)
{
    const QString preset = QString::fromUtf8(stored);
    if (presetNames.isEmpty()) {
        qDebug().noquote() << "Create item for: " + preset;
        cmbPreset->clear();
        cmbPreset->addItem(preset, stored);
    }
    int index = cmbPreset->findData(stored);
    // A preset the service no longer offers stays the folder's until the
    // user picks another: it is never swapped for another one silently.
    if (index < 0 && !stored.isEmpty()) {
        cmbPreset->addItem(tr("%1 (not offered)").arg(preset), stored);
        index = cmbPreset->count() - 1;
    }
    if (index >= 0)
        cmbPreset->setCurrentIndex(index);
}

void scanPathWidget::loadNormalisation(const QString& arguments)
{
    // Boxes are only ever checked here: a line checks every box it names.
    const QList<bool> chosen = folderoptions::chosenTargets(arguments);
    for (qsizetype i = 0; i < chosen.size() && i < normaliseBoxes.size(); ++i) {
        if (chosen.at(i))
            normaliseBoxes.at(i)->setChecked(true);
    }
}

void scanPathWidget::loadNoiseReduction(const QString& arguments)
{
    const folderoptions::NoiseReduction noise = folderoptions::readNoiseReduction(arguments);
    if (noise.speechToMusic && noise.musicToSpeech) {
        txtMusicToSpeech->setText(*noise.musicToSpeech);
        txtSpeechToMusic->setText(*noise.speechToMusic);
    }
    noiseButtons.at(int(noise.mode))->setChecked(true);
}

void scanPathWidget::loadPreProcessResult(int result)
{
    const folderoptions::PreProcessResult stored = folderoptions::readPreProcessResult(result);
    if (stored.replaceOriginal) {
        rdoReplaceOriginal->setChecked(true);
        return;
    }
    rdoCreateNrSuffix->setChecked(true);
    if (stored.deleteAfterSubmission)
        chkDeleteAfterSubmission->setChecked(true);
}

// ---- storing ---------------------------------------------------------------

void scanPathWidget::storeTo(ScanPath& record) const
{
    record.enabled = chkEnabled->isChecked();
    record.path = lblWatchedPath->text();
    const QVariant preset = cmbPreset->currentData();
    record.preset = preset.isValid() ? preset.toByteArray() : cmbPreset->currentText().toUtf8();
    record.outputPath = lblOutputPath->text();
    record.outputSuffix = txtSuffix->text();
    record.showDialog = chkShowDialog->isChecked();
    record.recursive = chkRecursive->isChecked();
    record.settleSeconds = spnSettleSeconds->value();
    record.encodeToMP3 = chkConvertToMp3->isChecked();
    record.encodeToMP3_bitRate = cmbBitRate->currentText();
    record.encodeToMP3_suffix = txtMp3Suffix->text();
    record.postProcessing_Arguments = storedNormalisation();
    record.truePeakCeiling = chkTruePeakCeiling->isChecked() ? spnTruePeakCeiling->value()
                                                             : std::numeric_limits<double>::quiet_NaN();
    record.preProcessing_Arguments = storedNoiseReduction();
    record.preProcessing_Result = storedPreProcessResult();
    record.monoProcessing_ConvertToDualStereo = chkConvertMono->isChecked();
    record.monoProcessing_KeepConverted = chkKeepStereo->isChecked();
    record.deleteWAVafterMP3Encoding = chkDeleteWav->isChecked();
    record.id = m_spcID;
}

QString scanPathWidget::storedNormalisation() const
{
    QList<bool> chosen;
    for (const QCheckBox* box : normaliseBoxes)
        chosen << box->isChecked();
    return folderoptions::targetArguments(chosen);
}

QString scanPathWidget::storedNoiseReduction() const
{
    for (qsizetype i = 0; i < noiseButtons.size(); ++i) {
        if (noiseButtons.at(i)->isChecked())
            return folderoptions::noiseArguments(folderoptions::NoiseMode(i), txtSpeechToMusic->text(),
                                                 txtMusicToSpeech->text());
    }
    return QString();
}

int scanPathWidget::storedPreProcessResult() const
{
    return folderoptions::preProcessResultNumber(
        {rdoReplaceOriginal->isChecked(), chkDeleteAfterSubmission->isChecked()});
}

QString scanPathWidget::validationError() const
{
    if (!rdoCustom->isChecked())
        return QString();
    const std::pair<const QLineEdit*, QString> fields[] = {{txtSpeechToMusic, QStringLiteral("S->M")},
                                                           {txtMusicToSpeech, QStringLiteral("M->S")}};
    for (const auto& [edit, name] : fields) {
        if (!folderoptions::customValue(edit->text()))
            return tr("The %1 value \"%2\" of the folder %3 is not a number.")
                .arg(name, edit->text(), lblWatchedPath->text());
    }
    return QString();
}

// ---- slots -------------------------------------------------------------------

void scanPathWidget::browseFolderFor(QLabel* label, const QString& title)
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, title, label->text(), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!chosen.isEmpty())
        label->setText(QDir::toNativeSeparators(chosen));
}

void scanPathWidget::browseOutput_clicked()
{
    browseFolderFor(lblOutputPath, tr("Select Output Folder"));
}

void scanPathWidget::browseWatchedFolder_clicked()
{
    browseFolderFor(lblWatchedPath, tr("Select Watched Folder"));
}

void scanPathWidget::btnDelete_clicked()
{
    emit delete_clicked(this, m_widgetID, m_spcID);
}

void scanPathWidget::handleCreateWSuffixToggled(bool checked)
{
    chkDeleteAfterSubmission->setEnabled(checked);
}

void scanPathWidget::paintEvent(QPaintEvent*)
{
    const QColor window = palette().color(QPalette::Window);
    background = window;
    const auto lighter = [](int component) { return std::min(component + kLighter, 255); };
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(lighter(background.red()), lighter(background.green()), lighter(background.blue())));
    gradient.setColorAt(1, background);
    QPainter painter(this);
    painter.fillRect(rect(), gradient);
    painter.setPen(QPen(QColor(Qt::darkGray), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}
