#include "app/queuefileaccessible.h"

#include "app/queuefilepartaccessible.h"
#include "app/queuelistaccessible.h"
#include "app/queuelistwidget.h"

namespace {

using Part = QueueFileWidget::Part;

QAccessibleInterface* queueFileFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("QueueFileWidget"))
        return new QueueFileAccessible(static_cast<QueueFileWidget*>(object));
    if (className == QLatin1String("QueueListWidget"))
        return new QueueListAccessible(static_cast<QueueListWidget*>(object));
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
    for (QAccessible::Id id : m_parts) {
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
    // The lines the panel shows: a finished file's panel hides its last
    // progress line ("Post processing started") and shows its outputs.
    QStringList lines;
    if (shown->isShown(Part::Progress)) {
        if (!shown->text(Part::Progress).isEmpty())
            lines << shown->text(Part::Progress);
        if (!shown->barText().isEmpty())
            lines << shown->barText();
    }
    lines << QueueFileWidget::tr("Source: %1").arg(shown->text(Part::Source))
          << QueueFileWidget::tr("Destination: %1").arg(shown->text(Part::Destination));
    if (shown->isShown(Part::Outputs) && !shown->text(Part::Outputs).trimmed().isEmpty())
        lines << shown->text(Part::Outputs).trimmed();
    if (shown->isShown(Part::Error) && !shown->text(Part::Error).isEmpty())
        lines << QueueFileWidget::tr("Error: %1").arg(shown->text(Part::Error));
    return lines.join(QLatin1Char('\n'));
}

int QueueFileAccessible::childCount() const
{
    return int(m_parts.size());
}

QAccessibleInterface* QueueFileAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    QAccessible::Id& id = m_parts[size_t(index)];
    if (!id) {
        QAccessibleInterface* part = size_t(index) == kBar
                                         ? static_cast<QAccessibleInterface*>(new QueueFileBarAccessible(panel()))
                                         : new QueueFileButtonAccessible(panel(), QueueFileWidget::kButtons[index]);
        id = QAccessible::registerAccessibleInterface(part);
    }
    return QAccessible::accessibleInterface(id);
}

int QueueFileAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    for (int i = 0; i < childCount(); ++i) {
        if (m_parts[size_t(i)] && QAccessible::accessibleInterface(m_parts[size_t(i)]) == child)
            return i;
    }
    return -1;
}

QAccessibleInterface* QueueFileAccessible::childAt(int x, int y) const
{
    for (int i = 0; i < childCount(); ++i) {
        QAccessibleInterface* part = child(i);
        if (part->rect().contains(x, y))
            return part;
    }
    return nullptr;
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

void QueueFileWidget::announceBar()
{
    if (!isVisible())
        return;
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(this);
    if (!panel || panel->childCount() == 0)
        return;
    // The bar is the panel's last child.
    QAccessibleValueChangeEvent event(panel->child(panel->childCount() - 1), std::max(0, m_barValue));
    QAccessible::updateAccessibility(&event);
}
