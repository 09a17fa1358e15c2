#pragma once

#include <QString>
#include <QStringList>

class QAbstractItemModel;
class QWidget;

// What the two tool windows share for taking files without a drop: the
// "Add files..." chooser and the hint shown while their list is empty.
namespace toolfiles {

// Asks for one or more files matching `filter`; empty when cancelled.
QStringList choose(QWidget* parent, const QString& filter);
// Shows `hint` exactly while `model` has no rows, now and whenever rows
// come or go.
void showWhileEmpty(QWidget& hint, QAbstractItemModel& model);

} // namespace toolfiles
