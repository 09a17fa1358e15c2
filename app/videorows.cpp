#include "app/videorows.h"

#include "video/videofile.h"

#include <QDir>
#include <QFileInfo>
#include <QTreeWidget>

namespace {

constexpr int kNameColumn = 0;
constexpr int kPathColumn = 1;
constexpr int kStatusColumn = 2;
constexpr int kResultColumn = 3;

QTreeWidgetItem* rowOf(QTreeWidget& tree, const videoFile& record)
{
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree.topLevelItem(i);
        if (videorows::recordIdOf(*item) == record.id)
            return item;
    }
    auto* item = new QTreeWidgetItem(&tree);
    item->setData(kNameColumn, Qt::UserRole, record.id);
    const QFileInfo source(record.sourceVideo);
    item->setText(kNameColumn, source.completeBaseName());
    item->setText(kPathColumn, QDir::toNativeSeparators(source.absolutePath()));
    return item;
}

} // namespace

namespace videorows {

void show(QTreeWidget& tree, const videoFile& record)
{
    QTreeWidgetItem* row = rowOf(tree, record);
    row->setText(kStatusColumn, record.stateName());
    if (record.failed()) {
        row->setText(kResultColumn, record.failureReason);
        row->setToolTip(kResultColumn, record.failureReason);
    } else if (record.state < videoFile::ReencodingVideo) {
        row->setText(kResultColumn, QString());
        row->setToolTip(kResultColumn, QString());
    } else if (record.state == videoFile::ReencodingVideo) {
        row->setText(kResultColumn, record.outputVideo);
    }
}

int recordIdOf(const QTreeWidgetItem& row)
{
    return row.data(kNameColumn, Qt::UserRole).toInt();
}

} // namespace videorows
