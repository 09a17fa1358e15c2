#include "app/queuefileaccessible.h"

#include <QWidget>
#include <QWindow>

namespace {

using Part = QueueFileWidget::Part;

QAccessibleInterface* queueFileFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QueueFileWidget") && object && object->isWidgetType())
        return new QueueFileAccessible(static_cast<QueueFileWidget*>(object));
    return nullptr;
}

// The last component of a path with either separator.
QString fileNameOf(const QString& path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1);
}

} // namespace

void installQueueFileAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(queueFileFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

// ---- the panel -------------------------------------------------------------------

QueueFileAccessible::QueueFileAccessible(QueueFileWidget* panel)
    : QAccessibleWidget(panel, QAccessible::ListItem)
{
}

QueueFileAccessible::~QueueFileAccessible()
{
    for (QAccessible::Id id : m_buttons) {
        if (id)
            QAccessible::deleteAccessibleInterface(id);
    }
}

QueueFileWidget* QueueFileAccessible::panel() const
{
    return static_cast<QueueFileWidget*>(widget());
}

QString QueueFileAccessible::text(QAccessible::Text kind) const
{
    const QueueFileWidget* shown = panel();
    if (kind == QAccessible::Name)
        return fileNameOf(shown->text(Part::Source)) + QStringLiteral(", ") + shown->text(Part::Status);
    if (kind != QAccessible::Description)
        return QAccessibleWidget::text(kind);
    QStringList lines;
    if (!shown->text(Part::Progress).isEmpty())
        lines << shown->text(Part::Progress);
    if (shown->isShown(Part::Progress) && !shown->barText().isEmpty())
        lines << shown->barText();
    lines << QueueFileWidget::tr("Source: %1").arg(shown->text(Part::Source))
          << QueueFileWidget::tr("Destination: %1").arg(shown->text(Part::Destination));
    if (shown->isShown(Part::Error) && !shown->text(Part::Error).isEmpty())
        lines << QueueFileWidget::tr("Error: %1").arg(shown->text(Part::Error));
    return lines.join(QLatin1Char('\n'));
}

int QueueFileAccessible::childCount() const
{
    return int(m_buttons.size());
}

QAccessibleInterface* QueueFileAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    QAccessible::Id& id = m_buttons[size_t(index)];
    if (!id)
        id = QAccessible::registerAccessibleInterface(
            new QueueFileButtonAccessible(panel(), QueueFileWidget::kButtons[index]));
    return QAccessible::accessibleInterface(id);
}

int QueueFileAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    for (int i = 0; i < childCount(); ++i) {
        if (m_buttons[size_t(i)] && QAccessible::accessibleInterface(m_buttons[size_t(i)]) == child)
            return i;
    }
    return -1;
}

QAccessibleInterface* QueueFileAccessible::childAt(int x, int y) const
{
    for (int i = 0; i < childCount(); ++i) {
        QAccessibleInterface* button = child(i);
        if (button->rect().contains(x, y))
            return button;
    }
    return nullptr;
}

// ---- its buttons ---------------------------------------------------------------------

QueueFileButtonAccessible::QueueFileButtonAccessible(QueueFileWidget* panel, Part button)
    : m_panel(panel), m_button(button)
{
}

bool QueueFileButtonAccessible::isValid() const
{
    return !m_panel.isNull();
}

// A painted button has no object of its own.
QObject* QueueFileButtonAccessible::object() const
{
    return nullptr;
}

QWindow* QueueFileButtonAccessible::window() const
{
    return m_panel ? m_panel->window()->windowHandle() : nullptr;
}

QAccessibleInterface* QueueFileButtonAccessible::parent() const
{
    return m_panel ? QAccessible::queryAccessibleInterface(m_panel.data()) : nullptr;
}

QString QueueFileButtonAccessible::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Name && m_panel ? m_panel->buttonToolTip(m_button) : QString();
}

QRect QueueFileButtonAccessible::rect() const
{
    if (!m_panel || !m_panel->isShown(m_button))
        return QRect();
    const QRect area = m_panel->rectOf(m_button);
    return QRect(m_panel->mapToGlobal(area.topLeft()), area.size());
}

QAccessible::State QueueFileButtonAccessible::state() const
{
    QAccessible::State state;
    if (!m_panel) {
        state.invalid = true;
        return state;
    }
    state.invisible = !m_panel->isVisible() || !m_panel->isShown(m_button);
    state.disabled = !m_panel->buttonEnabled(m_button);
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

void QueueFileButtonAccessible::doAction(const QString& actionName)
{
    if (m_panel && actionName == pressAction())
        m_panel->pressButton(m_button);
}

QStringList QueueFileButtonAccessible::keyBindingsForAction(const QString&) const
{
    return {};
}

// ---- what the panel announces ------------------------------------------------------------

void QueueFileWidget::announceText(Part part)
{
    if (!isVisible())
        return;
    QAccessible::Event change;
    if (part == Part::Status || part == Part::Source)
        change = QAccessible::NameChanged;
    else if (part == Part::Progress || part == Part::Destination || part == Part::Error)
        change = QAccessible::DescriptionChanged;
    else
        return;
    QAccessibleEvent event(this, change);
    QAccessible::updateAccessibility(&event);
}

void QueueFileWidget::announceButtons(bool availabilityChanged)
{
    if (!isVisible())
        return;
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(this);
    if (!panel)
        return;
    QAccessible::State changed;
    changed.disabled = availabilityChanged;
    changed.invisible = !availabilityChanged;
    for (int i = 0; i < panel->childCount(); ++i) {
        QAccessibleStateChangeEvent event(panel->child(i), changed);
        QAccessible::updateAccessibility(&event);
    }
}
