#pragma once

#include <QList>
#include <QWidget>

// The controls Tab reaches one after another from `start`, once round its
// window: the shown ones that take the focus by Tab, `start` excluded.
inline QList<QWidget*> tabCycle(QWidget* start)
{
    QList<QWidget*> reached;
    for (QWidget* widget = start->nextInFocusChain(); widget != start; widget = widget->nextInFocusChain()) {
        if (widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus))
            reached << widget;
    }
    return reached;
}
