#pragma once

#include <QList>
#include <QWidget>

class QueueFileWidget;

// The widget inside a list's scroll area that holds the list's queue
// panels. Screen readers see it as a list named after its scroll area
// (queuelistaccessible.h), whose items are the shown panels in the order
// the list shows them.
class QueueListWidget : public QWidget {
    Q_OBJECT

public:
    explicit QueueListWidget(QWidget* parent = nullptr);

    // The panels the list shows, from top to bottom.
    QList<QueueFileWidget*> shownPanels() const;
    // What the list is called: its scroll area's accessible name.
    QString listName() const;
};
