#pragma once

#include <QLabel>

// A label that reports presses and double clicks of the left (1) and right
// (2) mouse buttons; other buttons are ignored.
class QClickableLabel : public QLabel {
    Q_OBJECT

public:
    explicit QClickableLabel(const QString& text = QString(), QWidget* parent = nullptr);

signals:
    void clickedEx(int buttonN, bool doubleClick);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void report(QMouseEvent* event, bool doubleClick);
};
