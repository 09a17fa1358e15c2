#include "app/queuelistaccessible.h"

#include "app/queuefilewidget.h"
#include "app/queuelistwidget.h"

QueueListAccessible::QueueListAccessible(QueueListWidget* list) : QAccessibleWidget(list, QAccessible::List)
{
}

QueueListWidget* QueueListAccessible::list() const
{
    return static_cast<QueueListWidget*>(widget());
}

QString QueueListAccessible::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Name ? list()->listName() : QAccessibleWidget::text(kind);
}

int QueueListAccessible::childCount() const
{
    return int(list()->shownPanels().size());
}

QAccessibleInterface* QueueListAccessible::child(int index) const
{
    const QList<QueueFileWidget*> panels = list()->shownPanels();
    return index >= 0 && index < panels.size() ? QAccessible::queryAccessibleInterface(panels[index]) : nullptr;
}

int QueueListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child)
        return -1;
    const QList<QueueFileWidget*> panels = list()->shownPanels();
    for (qsizetype i = 0; i < panels.size(); ++i) {
        if (panels[i] == child->object())
            return int(i);
    }
    return -1;
}
