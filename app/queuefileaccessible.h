#pragma once

#include "app/queuefilewidget.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <array>

// What screen readers (AT-SPI on Linux, UI Automation on Windows) see of a
// queue panel, which paints its lines and buttons itself: a list item named
// "<file name>, <state>" whose description holds the progress, source,
// destination and error lines, with the panel's three buttons as children.
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

    // Registered with QAccessible when first asked for; removed with this.
    mutable std::array<QAccessible::Id, std::size(QueueFileWidget::kButtons)> m_buttons{};
};

// One painted button of a queue panel: named with its tooltip, unavailable
// exactly when the panel greys it, invisible when the panel's form hides it;
// its press action is a click.
class QueueFileButtonAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    QueueFileButtonAccessible(QueueFileWidget* panel, QueueFileWidget::Part button);

    bool isValid() const override;
    QObject* object() const override;
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    QPointer<QueueFileWidget> m_panel;
    QueueFileWidget::Part m_button;
};

// Makes QAccessible build a QueueFileAccessible for every queue panel; once.
void installQueueFileAccessibility();
