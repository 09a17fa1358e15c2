#pragma once

#include <QAccessibleWidget>

class QueueListWidget;

// What screen readers see of one list of queue panels (the queue, the Done
// and the Error tab): a list named after its scroll area whose items are
// the panels it shows, in the order it shows them, so that "item 2 of 5"
// and moving a file up or down read as the screen shows them.
class QueueListAccessible final : public QAccessibleWidget {
public:
    explicit QueueListAccessible(QueueListWidget* list);

    QString text(QAccessible::Text kind) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

private:
    QueueListWidget* list() const;
};
