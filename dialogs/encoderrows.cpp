#include "dialogs/encoderrows.h"

#include "audio/audioencoderparent.h"

#include <QStandardItemModel>

namespace encoderrows {

void append(QStandardItemModel& model, audioEncoderParent* encoder)
{
    auto* item = new QStandardItem(encoder->statusText());
    item->setData(QVariant::fromValue(encoder), Qt::UserRole);
    item->setEditable(false);
    model.appendRow(item);
}

audioEncoderParent* at(const QStandardItemModel& model, int row)
{
    return model.item(row)->data(Qt::UserRole).value<audioEncoderParent*>();
}

void refresh(QStandardItemModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        const QString text = at(model, row)->statusText();
        if (model.item(row)->text() != text)
            model.item(row)->setText(text);
    }
}

void destroyAll(QStandardItemModel& model)
{
    for (int row = model.rowCount() - 1; row >= 0; --row)
        delete at(model, row);
    model.clear();
}

} // namespace encoderrows
