// The queue panel driven from the keyboard: moving the focus between the
// panels of a list, and the keys that stand for its buttons, its double
// click and its context menu.
#include "app/queuefilewidget.h"

#include "app/queuelistwidget.h"

#include <QKeyEvent>
#include <QMenu>
#include <QScrollArea>

namespace {

using Part = QueueFileWidget::Part;

// Where a menu opened from the keyboard appears: under the status row.
constexpr QPoint kKeyboardMenuAt{12, 24};

} // namespace

void QueueFileWidget::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && modifiers == Qt::ControlModifier) {
        pressButton(key == Qt::Key_Up ? Part::MoveUpButton : Part::MoveDownButton);
    } else if ((key == Qt::Key_Up || key == Qt::Key_Down) && modifiers == Qt::NoModifier) {
        focusPanel(neighbour(key == Qt::Key_Up ? -1 : 1));
    } else if (key == Qt::Key_Delete && modifiers == Qt::NoModifier) {
        removeFromKeyboard();
    } else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        emit queueFileClick(m_fileID, 1, true);
    } else if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier)
               || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        customContextMenuRequestedHandler(kKeyboardMenuAt);
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void QueueFileWidget::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void QueueFileWidget::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}


QueueFileWidget* QueueFileWidget::neighbour(int step) const
{
    const auto* list = qobject_cast<const QueueListWidget*>(parentWidget());
    if (!list)
        return nullptr;
    const QList<QueueFileWidget*> panels = list->shownPanels();
    const qsizetype at = panels.indexOf(const_cast<QueueFileWidget*>(this));
    return at >= 0 && at + step >= 0 && at + step < panels.size() ? panels[at + step] : nullptr;
}

void QueueFileWidget::focusPanel(QueueFileWidget* panel)
{
    if (!panel)
        return;
    panel->setFocus(Qt::OtherFocusReason);
    for (QWidget* up = panel->parentWidget(); up; up = up->parentWidget()) {
        if (auto* scroller = qobject_cast<QScrollArea*>(up)) {
            scroller->ensureWidgetVisible(panel, 0, 0);
            break;
        }
    }
}

// The focus goes on to the next panel (the one above at the end of the
// list) when this one leaves it.
void QueueFileWidget::removeFromKeyboard()
{
    QueueFileWidget* next = neighbour(1);
    if (!next)
        next = neighbour(-1);
    pressButton(Part::RemoveButton);
    if (!isVisible())
        focusPanel(next);
}
