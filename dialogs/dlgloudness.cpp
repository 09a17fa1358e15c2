#include "dialogs/dlgloudness.h"
#include "ui_dlgloudness.h"

#include "audio/loudnessmeter.h"
#include "audio/meterjob.h"
#include "driver/loudnessrun.h"
#include "dialogs/toolfiles.h"

#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTimer>

#include <cmath>

namespace {

// Row texts are matched against a file's path followed by this.
const QString kResultSeparator = QStringLiteral(" | ");
double toDb(double linear)
{
    return 20.0 * std::log10(std::max(linear, 1e-10));
}

// One decimal; "n/a" where the figure does not exist (the loudness range of
// a file shorter than 3 s).
QString oneDecimal(double value)
{
    return std::isnan(value) ? QStringLiteral("n/a") : QString::number(value, 'f', 1);
}

} // namespace

dlgLoudness::dlgLoudness(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::dlgLoudness>())
{
    ui->setupUi(this);
    model = new QStandardItemModel(0, 1, this);
    ui->listView->setModel(model);
    ui->listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    resultTimer = new QTimer(this);
    connect(resultTimer, &QTimer::timeout, this, &dlgLoudness::tmr_result_Tick);
    resultTimer->start(1000);
    renderTimer = new QTimer(this);
    connect(renderTimer, &QTimer::timeout, this, &dlgLoudness::tmr_render_Tick);
    connect(ui->listView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &dlgLoudness::showSelectedPlot);
    for (QRadioButton* button : findChildren<QRadioButton*>()) {
        connect(button, &QRadioButton::toggled, this, [this](bool on) {
            if (!on)
                return;
            refreshToolTips();
            showSelectedPlot();
        });
    }
    connect(ui->chkTruePeakCeiling, &QCheckBox::toggled, this, &dlgLoudness::showSelectedPlot);
    toolfiles::showWhileEmpty(*ui->label, *model);
}

dlgLoudness::~dlgLoudness()
{
    resultTimer->stop();
    renderTimer->stop();
    run.reset();
}

int dlgLoudness::rowCount() const
{
    return model->rowCount();
}

QString dlgLoudness::rowText(int row) const
{
    return model->item(row)->text();
}

QString dlgLoudness::rowToolTip(int row) const
{
    return model->item(row)->toolTip();
}

void dlgLoudness::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void dlgLoudness::dropEvent(QDropEvent* event)
{
    if (normalizing)
        return;
    for (const QUrl& url : event->mimeData()->urls())
        addIfWav(url.toLocalFile());
    event->acceptProposedAction();
}

void dlgLoudness::on_btnAddFiles_clicked()
{
    if (normalizing)
        return;
    for (const QString& path : toolfiles::choose(this, tr("WAV files (*.wav)")))
        addIfWav(path);
}

void dlgLoudness::addIfWav(const QString& path)
{
    const QFileInfo info(path);
    // Not a regular file (a pipe, a device): opening it could wait for ever.
    if (info.suffix().compare(QLatin1String("wav"), Qt::CaseInsensitive) != 0 || !info.isFile())
        return;
    add_filePath(path);
    qDebug() << "Dropped file:" << path;
}

void dlgLoudness::add_filePath(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    auto job = std::make_unique<MeterJob>(native.toUtf8(), true);
    job->start();
    meters.push_back(std::move(job));
    auto* item = new QStandardItem(native);
    item->setEditable(false);
    model->appendRow(item);
}

void dlgLoudness::tmr_result_Tick()
{
    bool shown = false;
    for (const auto& job : meters) {
        if (!job->isDone() || !job->displayTag.isEmpty())
            continue;
        showResult(*job);
        job->displayTag = "set";
        shown = true;
    }
    if (!shown)
        return;
    refreshToolTips();
    showSelectedPlot();
}

void dlgLoudness::showResult(MeterJob& job)
{
    const QString path = QString::fromUtf8(job.filePath());
    QString suffix;
    if (const LoudnessMeter* meter = job.meter()) {
        qDebug() << path << meter->dbRms() << " dB RMS" << meter->lufs() << "LUFS";
        suffix = kResultSeparator + QStringLiteral("RMS: ") + QString::number(meter->dbRms(), 'f', 1)
            + QStringLiteral(" dB | LUFS: ") + QString::number(meter->lufs(), 'f', 1) + QStringLiteral(" | LRA: ")
            + oneDecimal(meter->report().loudnessRange) + QStringLiteral(" LU | TP: ")
            + oneDecimal(meter->report().truePeak) + QStringLiteral(" dBTP");
    } else {
        qDebug() << path << "cannot be measured:" << job.failure();
        suffix = kResultSeparator + QStringLiteral("cannot be measured: ") + job.failure();
    }
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem* item = model->item(row);
        if (item->text() == path)
            item->setText(path + suffix);
    }
}

bool dlgLoudness::chosenTarget(LoudnessTarget& target) const
{
    // The RMS row is searched before the LUFS row.
    for (QRadioButton* button : {ui->radioButton_5, ui->radioButton_6, ui->radioButton_4, ui->radioButton_3,
                                 ui->radioButton, ui->radioButton_2}) {
        if (button->isChecked())
            return LoudnessTarget::parse(button->text(), target);
    }
    return false;
}

void dlgLoudness::refreshToolTips()
{
    LoudnessTarget target;
    if (!chosenTarget(target))
        return;
    for (const auto& job : meters) {
        const LoudnessMeter* meter = job->meter();
        if (!meter || job->displayTag.isEmpty())
            continue;
        const double gainDb = toDb(target.gain(meter->lufs(), meter->dbRms()));
        const double peakDb = toDb(meter->series().samplePeak);
        const double truePeakDb = meter->report().truePeak;
        const QString tip = LoudnessRun::isSilent(*meter)
            ? QStringLiteral("silent")
            : QStringLiteral("Sample peak %1 dBFS, true peak %2 dBTP; after %3 dB of gain for %4: %5 dBFS, %6 dBTP")
                  .arg(peakDb, 0, 'f', 1)
                  .arg(truePeakDb, 0, 'f', 1)
                  .arg(gainDb, 0, 'f', 1)
                  .arg(QString::number(double(target.value), 'g', 6) + QLatin1Char(' ') + target.unitLabel())
                  .arg(peakDb + gainDb, 0, 'f', 1)
                  .arg(truePeakDb + gainDb, 0, 'f', 1);
        const QString path = QString::fromUtf8(job->filePath());
        for (int row = 0; row < model->rowCount(); ++row) {
            QStandardItem* item = model->item(row);
            if (item->text().startsWith(path + kResultSeparator))
                item->setToolTip(tip);
        }
    }
}

void dlgLoudness::showSelectedPlot()
{
    const int row = ui->listView->currentIndex().row();
    LoudnessTarget target;
    if (row < 0 || row >= int(meters.size()) || !chosenTarget(target)) {
        ui->plot->clear();
        return;
    }
    const LoudnessMeter* meter = meters[size_t(row)]->meter();
    if (!meter) {
        ui->plot->clear();
        return;
    }
    const double gainDb = toDb(target.gain(meter->lufs(), meter->dbRms()));
    LoudnessPlot::Lines lines;
    lines.title = QFileInfo(QString::fromUtf8(meter->filePath())).fileName();
    lines.integrated = meter->lufs();
    lines.target = meter->lufs() + gainDb;
    lines.targetLabel = QString::number(double(target.value), 'g', 6) + QLatin1Char(' ') + target.unitLabel();
    // An RMS target's line sits where that RMS puts this file's loudness.
    if (!target.lufs)
        lines.targetLabel += QStringLiteral(" = %1 LUFS here").arg(lines.target, 0, 'f', 1);
    lines.silent = LoudnessRun::isSilent(*meter);
    lines.clipping = toDb(meter->series().samplePeak) + gainDb > 0.0;
    lines.truePeak = meter->report().truePeak + gainDb;
    if (ui->chkTruePeakCeiling->isChecked())
        lines.ceiling = LoudnessRun::kCeilingDbtp;
    ui->plot->showSeries(meter->series(), lines);
}

bool dlgLoudness::stillMeasuring()
{
    for (const auto& job : meters) {
        if (!job->isDone()) {
            QMessageBox::warning(this, QStringLiteral("Processing"), QStringLiteral("A file is still being measured"),
                                 QMessageBox::Ok);
            return true;
        }
    }
    return false;
}

void dlgLoudness::on_btnClear_clicked()
{
    // Measurements still at work are abandoned, never waited for.
    if (normalizing)
        return;
    while (!meters.empty())
        meters.pop_back();
    model->clear();
    ui->plot->clear();
}

void dlgLoudness::on_btnNormalize_clicked()
{
    if (normalizing)
        return;
    for (QRadioButton* button : {ui->radioButton_5, ui->radioButton_6, ui->radioButton_4, ui->radioButton_3,
                                 ui->radioButton, ui->radioButton_2}) {
        if (!button->isChecked())
            continue;
        qDebug() << button->text();
        LoudnessTarget target;
        if (!LoudnessTarget::parse(button->text(), target)) {
            qDebug() << "Invalid parameter";
            return;
        }
        qDebug() << "Valid parameter:" << target.value << target.unit();
        normalize(target);
        return;
    }
}

void dlgLoudness::abandonRun()
{
    renderTimer->stop();
    run.reset();
    normalizing = false;
}

void dlgLoudness::normalize(const LoudnessTarget& target)
{
    if (stillMeasuring())
        return;
    normalizing = true;
    std::vector<const LoudnessMeter*> measured;
    for (const auto& job : meters)
        measured.push_back(job->meter());
    run.reset();
    run = std::make_unique<LoudnessRun>(target, ui->chkTruePeakCeiling->isChecked(), measured);
    ui->txtEncoded->setText(QStringLiteral("Encoding started..."));
    renderTimer->start(200);
}

void dlgLoudness::tmr_render_Tick()
{
    if (!run || run->isDone()) {
        normalizing = false;
        renderTimer->stop();
        run.reset();
        return;
    }
    const LoudnessRun::Step step = run->tick();
    if (!step.started.isEmpty())
        ui->txtEncoded->append(step.started + QStringLiteral("... "));
    if (!step.ended.isEmpty())
        ui->txtEncoded->append(step.ended);
}

void dlgLoudness::done(int result)
{
    if (normalizing) {
        QMessageBox::information(this, QStringLiteral("Processing"), QStringLiteral("Audio files are being normalized"),
                                 QMessageBox::Ok);
        return;
    }
    QDialog::done(result);
}
