#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the next modal window of type T from inside the event loop that
// runs it: polls every 20 ms until one is active and hands it to `answer`
// once. When none has come by the deadline, the running test fails with a
// message naming the window type.
template <typename T>
void answerModal(std::function<void(T*)> answer, int timeoutMs = 15000)
{
    auto* timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, answer, timeoutMs] {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window && !deadline.hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (window) {
            answer(window);
            return;
        }
        const QByteArray message = QByteArray("no modal ") + T::staticMetaObject.className()
            + " appeared within " + QByteArray::number(timeoutMs) + " ms";
        QTest::qFail(message.constData(), __FILE__, __LINE__);
    });
    timer->start(20);
}

// Answers the next message box with `button`; its text goes to `text`
// when given.
inline void answerQuestion(QMessageBox::StandardButton button, QString* text = nullptr)
{
    answerModal<QMessageBox>([button, text](QMessageBox* box) {
        if (text)
            *text = box->text();
        box->button(button)->click();
    });
}

// Picks `path` in a running file dialog and confirms it. The name goes into
// the dialog's own edit field: the dialog's selection is not reliable
// before its folder has been listed.
inline void chooseInFileDialog(QFileDialog* dialog, const QString& path)
{
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog*>(dialog)->accept();
}
