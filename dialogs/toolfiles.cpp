#include "dialogs/toolfiles.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileDialog>
#include <QWidget>

namespace toolfiles {

QStringList choose(QWidget* parent, const QString& filter)
{
    return QFileDialog::getOpenFileNames(parent, QObject::tr("Add files"), QDir::homePath(), filter);
}

void showWhileEmpty(QWidget& hint, QAbstractItemModel& model)
{
    auto follow = [&hint, &model] { hint.setVisible(model.rowCount() == 0); };
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, &hint, follow);
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &hint, follow);
    QObject::connect(&model, &QAbstractItemModel::modelReset, &hint, follow);
    follow();
}

} // namespace toolfiles
