#include "dialogs/dlgencoder.h"
#include "ui_dlgencoder.h"

#include "audio/audiolibrary.h"
#include "audio/mp3encoder.h"
#include "settings/platform.h"
#include "dialogs/encoderrows.h"
#include "dialogs/toolfiles.h"

#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTimer>

namespace {

// What the window takes: a regular file (a FIFO or device would hold any
// reader) that is not an MP3 already. Whether it decodes is found out by the
// encoder's worker, never on the GUI thread.
bool isEncodable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.suffix().compare(QLatin1String("mp3"), Qt::CaseInsensitive) != 0;
}

} // namespace

dlgEncoder::dlgEncoder(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::dlgEncoder>())
{
    ui->setupUi(this);
    m_model = new QStandardItemModel(0, 1, this);
    ui->listView->setModel(m_model);
    ui->listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->lblEncoderInfo->setText(versionText());
    ui->comboBox->addItems({QStringLiteral("96"), QStringLiteral("128"), QStringLiteral("160"),
                            QStringLiteral("192"), QStringLiteral("256"), QStringLiteral("320")});
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &dlgEncoder::tmr_UpdateView_Tick);
    m_timer->start(500);
    setAcceptDrops(true);
    toolfiles::showWhileEmpty(*ui->lblDropHint, *m_model);
}

dlgEncoder::~dlgEncoder()
{
    m_timer->stop();
    encoderrows::destroyAll(*m_model);
}

QString dlgEncoder::versionText()
{
    return QStringLiteral("MP3 Encoder Version: 0x%1")
        .arg(audiolib::mp3EncoderVersion(), 8, 16, QLatin1Char('0'))
        .toUpper();
}

void dlgEncoder::setBitRate(const QString& bitRate)
{
    for (int i = 0; i < ui->comboBox->count(); ++i) {
        if (ui->comboBox->itemText(i).compare(bitRate, Qt::CaseInsensitive) == 0) {
            ui->comboBox->setCurrentIndex(i);
            return;
        }
    }
}

bool dlgEncoder::isListed(const QString& path) const
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const auto* encoder = static_cast<const mp3Encoder*>(encoderrows::at(*m_model, row));
        if (platform::isSamePath(encoder->inputFile(), path) && !encoder->failed()
            && encoder->state() != mp3Encoder::Cancelled)
            return true;
    }
    return false;
}

bool dlgEncoder::addFile(const QString& path)
{
    if (!isEncodable(path) || isListed(path))
        return false;
    auto* encoder = new mp3Encoder;
    encoder->setInputFile(path);
    const QFileInfo info(path);
    const QString output = QDir::toNativeSeparators(info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
                                                    + QStringLiteral(".mp3"));
    qDebug().noquote() << "Encoder output: " + output;
    encoder->setOutputFile(output);
    encoderrows::append(*m_model, encoder);
    return true;
}

int dlgEncoder::encoderCount() const
{
    return m_model->rowCount();
}

audioEncoderParent* dlgEncoder::encoderAt(int row) const
{
    return encoderrows::at(*m_model, row);
}

QString dlgEncoder::rowText(int row) const
{
    return m_model->item(row)->text();
}

void dlgEncoder::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void dlgEncoder::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString path = url.toLocalFile();
        if (path.isEmpty() || !addFile(path))
            continue;
        qDebug() << "Dropped file:" << path;
    }
    event->acceptProposedAction();
}

void dlgEncoder::on_btnAddFiles_clicked()
{
    for (const QString& path : toolfiles::choose(this, tr("Audio files (*.wav *.m4a *.flac *.ogg);;All files (*)")))
        addFile(path);
}

void dlgEncoder::on_btnEncode_clicked()
{
    const QString settings = QStringLiteral("-b") + ui->comboBox->currentText();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        audioEncoderParent* encoder = encoderrows::at(*m_model, row);
        encoder->setSettings(settings);
        encoder->start();
    }
    encoderrows::refresh(*m_model);
}

bool dlgEncoder::anyRunning() const
{
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (!encoderrows::at(*m_model, row)->isFinished())
            return true;
    return false;
}

void dlgEncoder::tmr_UpdateView_Tick()
{
    encoderrows::refresh(*m_model);
    if (m_closed && !isVisible() && !anyRunning())
        deleteLater();
}

void dlgEncoder::done(int result)
{
    QDialog::done(result);
    m_closed = true;
}
