#include "app/queuefilepartaccessible.h"

#include <QWindow>

using Part = QueueFileWidget::Part;

// ---- any painted part ---------------------------------------------------------------

QueueFilePartAccessible::QueueFilePartAccessible(QueueFileWidget* panel, Part part) : m_panel(panel), m_part(part)
{
}

bool QueueFilePartAccessible::isValid() const
{
    return !m_panel.isNull();
}

QObject* QueueFilePartAccessible::object() const
{
    return nullptr;
}

QWindow* QueueFilePartAccessible::window() const
{
    return m_panel ? m_panel->window()->windowHandle() : nullptr;
}

QAccessibleInterface* QueueFilePartAccessible::parent() const
{
    return m_panel ? QAccessible::queryAccessibleInterface(m_panel.data()) : nullptr;
}

QRect QueueFilePartAccessible::rect() const
{
    if (!m_panel || !m_panel->isShown(m_part))
        return QRect();
    const QRect area = m_panel->rectOf(m_part);
    return QRect(m_panel->mapToGlobal(area.topLeft()), area.size());
}

QAccessible::State QueueFilePartAccessible::partState(bool shown) const
{
    QAccessible::State state;
    if (!m_panel) {
        state.invalid = true;
        return state;
    }
    state.invisible = !m_panel->isVisible() || !shown;
    return state;
}

// ---- a button --------------------------------------------------------------------------

QString QueueFileButtonAccessible::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Name && panel() ? panel()->buttonToolTip(part()) : QString();
}

QAccessible::State QueueFileButtonAccessible::state() const
{
    QAccessible::State state = partState(panel() && panel()->isShown(part()));
    state.disabled = panel() && !panel()->buttonEnabled(part());
    return state;
}

void* QueueFileButtonAccessible::interface_cast(QAccessible::InterfaceType type)
{
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
}

QStringList QueueFileButtonAccessible::actionNames() const
{
    return {pressAction()};
}

// Pressed once the reader's call has returned, as Qt's own buttons are
// (animateClick): the close button may ask a question in a modal box, and
// the reader would hang on its call until the question was answered.
void QueueFileButtonAccessible::doAction(const QString& actionName)
{
    QueueFileWidget* shown = panel();
    if (!shown || actionName != pressAction())
        return;
    QMetaObject::invokeMethod(shown, [shown, button = part()] { shown->pressButton(button); }, Qt::QueuedConnection);
}

QStringList QueueFileButtonAccessible::keyBindingsForAction(const QString&) const
{
    return {};
}

// ---- the progress bar --------------------------------------------------------------------

QueueFileBarAccessible::QueueFileBarAccessible(QueueFileWidget* panel) : QueueFilePartAccessible(panel, Part::Progress)
{
}

bool QueueFileBarAccessible::drawn() const
{
    return panel() && panel()->isShown(Part::Progress) && panel()->barValue() != QueueFileWidget::kBarHidden;
}

QString QueueFileBarAccessible::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Name ? QueueFileWidget::tr("Progress") : QString();
}

QAccessible::State QueueFileBarAccessible::state() const
{
    QAccessible::State state = partState(drawn());
    state.readOnly = true;
    return state;
}

void* QueueFileBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this) : nullptr;
}

QVariant QueueFileBarAccessible::currentValue() const
{
    return panel() ? std::max(0, panel()->barValue()) : 0;
}

QVariant QueueFileBarAccessible::maximumValue() const
{
    return panel() && panel()->barValue() == QueueFileWidget::kBarBusy ? 0 : 100;
}
