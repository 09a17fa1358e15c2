#pragma once

#include "app/queuefilewidget.h"

#include <QAccessibleWidget>

#include <array>

// What screen readers (AT-SPI on Linux, UI Automation on Windows) see of a
// queue panel, which paints its lines and buttons itself: a list item named
// "<file name>, <state>" whose description holds the progress, source,
// destination, outputs and error lines it shows, with the panel's three
// buttons and its progress bar as children (queuefilepartaccessible.h).
class QueueFileAccessible final : public QAccessibleWidget {
public:
    explicit QueueFileAccessible(QueueFileWidget* panel);
    ~QueueFileAccessible() override;

    QString text(QAccessible::Text kind) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

private:
    QueueFileWidget* panel() const;

    // The buttons in the order of kButtons, then the bar. Registered with
    // QAccessible when first asked for; removed with this.
    static constexpr size_t kBar = std::size(QueueFileWidget::kButtons);
    mutable std::array<QAccessible::Id, kBar + 1> m_parts{};
};

// Makes QAccessible build a QueueFileAccessible for every queue panel and a
// QueueListAccessible for every list of them; once.
void installQueueFileAccessibility();
