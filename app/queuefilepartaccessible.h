#pragma once

#include "app/queuefilewidget.h"

#include <QAccessibleInterface>
#include <QPointer>

// One part a queue panel paints itself, as screen readers see it: it has no
// object of its own and lives as long as its panel.
class QueueFilePartAccessible : public QAccessibleInterface {
public:
    QueueFilePartAccessible(QueueFileWidget* panel, QueueFileWidget::Part part);

    bool isValid() const override;
    QObject* object() const override;
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;

protected:
    QueueFileWidget* panel() const { return m_panel.data(); }
    QueueFileWidget::Part part() const { return m_part; }
    // Invalid without a panel; invisible while the panel or the part is hidden.
    QAccessible::State partState(bool shown) const;

private:
    QPointer<QueueFileWidget> m_panel;
    QueueFileWidget::Part m_part;
};

// One painted button: named with its tooltip, unavailable exactly when the
// panel greys it, invisible when the panel's form hides it; its press
// action is a click, made after the call that asks for it returns.
class QueueFileButtonAccessible final : public QueueFilePartAccessible, public QAccessibleActionInterface {
public:
    using QueueFilePartAccessible::QueueFilePartAccessible;

    QString text(QAccessible::Text kind) const override;
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;
};

// The bar under the progress line: a progress bar from 0 to 100 holding the
// share the panel draws; from 0 to 0 (as a busy QProgressBar) while the step
// tells none; invisible while the panel draws no bar.
class QueueFileBarAccessible final : public QueueFilePartAccessible, public QAccessibleValueInterface {
public:
    explicit QueueFileBarAccessible(QueueFileWidget* panel);

    QString text(QAccessible::Text kind) const override;
    QAccessible::Role role() const override { return QAccessible::ProgressBar; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override;
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    bool drawn() const;
};
