#include "dialogs/encoderlistview.h"

#include "audio/audioencoderparent.h"
#include "dialogs/encoderrows.h"

#include <QDebug>
#include <QStandardItemModel>
#include <QTimer>

EncoderListView::EncoderListView(QWidget* parent)
    : QListView(parent)
    , m_model(new QStandardItemModel(0, 1, this))
    , m_timer(new QTimer(this))
{
    setModel(m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_timer, &QTimer::timeout, this, &EncoderListView::updateListView);
    m_timer->start(1000);
}

EncoderListView::~EncoderListView()
{
    m_timer->stop();
    if (m_ownsEncoders)
        encoderrows::destroyAll(*m_model);
}

void EncoderListView::addEncoder(audioEncoderParent* encoder)
{
    encoderrows::append(*m_model, encoder);
    qDebug() << "Added encoder for file:" << encoder->inputFile();
}

void EncoderListView::removeEncoder(const audioEncoderParent* encoder)
{
    for (int row = m_model->rowCount() - 1; row >= 0; --row) {
        if (encoderrows::at(*m_model, row) == encoder)
            m_model->removeRow(row);
    }
}

void EncoderListView::updateListView()
{
    encoderrows::refresh(*m_model);
}

void EncoderListView::clearFinished()
{
    for (int row = m_model->rowCount() - 1; row >= 0; --row) {
        audioEncoderParent* encoder = encoderrows::at(*m_model, row);
        if (!encoder->isFinished())
            continue;
        m_model->removeRow(row);
        if (m_ownsEncoders)
            delete encoder;
    }
    qDebug() << "Cleared finished encoders from the list.";
}

int EncoderListView::encoderCount() const
{
    return m_model->rowCount();
}

audioEncoderParent* EncoderListView::encoderAt(int row) const
{
    return encoderrows::at(*m_model, row);
}
