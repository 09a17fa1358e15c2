#include "app/qclickablelabel.h"

#include <QMouseEvent>

QClickableLabel::QClickableLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
}

void QClickableLabel::mousePressEvent(QMouseEvent* event)
{
    report(event, false);
}

void QClickableLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    report(event, true);
}

void QClickableLabel::report(QMouseEvent* event, bool doubleClick)
{
    if (event->button() == Qt::LeftButton)
        emit clickedEx(1, doubleClick);
    else if (event->button() == Qt::RightButton)
        emit clickedEx(2, doubleClick);
}
