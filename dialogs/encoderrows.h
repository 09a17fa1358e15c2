#pragma once

#include <QList>

class QStandardItemModel;
class audioEncoderParent;

// Rows of encoders in a one-column item model: each row's text is its
// encoder's status text and its user data (Qt::UserRole) the encoder
// pointer. Shared by the main window's encoder list and the MP3 encoder
// window.
namespace encoderrows {

void append(QStandardItemModel& model, audioEncoderParent* encoder);
audioEncoderParent* at(const QStandardItemModel& model, int row);
// Sets every row's text to its encoder's current status text.
void refresh(QStandardItemModel& model);
// Destroys every listed encoder and empties the model.
void destroyAll(QStandardItemModel& model);

} // namespace encoderrows
