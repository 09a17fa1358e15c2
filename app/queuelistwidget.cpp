#include "app/queuelistwidget.h"

#include "app/queuefileaccessible.h"
#include "app/queuefilewidget.h"

#include <QLayout>
#include <QScrollArea>

namespace {

// The panels of `layout` and of the layouts nested in it, in their order.
void collectPanels(const QLayout* layout, QList<QueueFileWidget*>& panels)
{
    for (int i = 0; layout && i < layout->count(); ++i) {
        QLayoutItem* entry = layout->itemAt(i);
        if (auto* panel = qobject_cast<QueueFileWidget*>(entry->widget())) {
            if (!panel->isHidden())
                panels.append(panel);
        }
        collectPanels(entry->layout(), panels);
    }
}

} // namespace

QueueListWidget::QueueListWidget(QWidget* parent) : QWidget(parent)
{
    installQueueFileAccessibility();
}

QList<QueueFileWidget*> QueueListWidget::shownPanels() const
{
    QList<QueueFileWidget*> panels;
    collectPanels(layout(), panels);
    return panels;
}

QString QueueListWidget::listName() const
{
    for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
        if (auto* scroller = qobject_cast<QScrollArea*>(up))
            return scroller->accessibleName();
    }
    return accessibleName();
}
