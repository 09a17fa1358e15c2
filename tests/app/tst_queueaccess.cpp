#include "windowtest.h"

#include "tests/dialogs/modalanswer.h"

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// The queue as a screen reader and a keyboard user meet it, in a real main
// window: the accessible tree read through QAccessible, and the keys that
// drive the panels.
class TestQueueAccess : public WindowTest {
    Q_OBJECT

public:
    // Logged out: the files stay where the test puts them.
    TestQueueAccess() : WindowTest(Start::LoggedOut) {}

private slots:
    void accessibleTreeNamesStatesAndPresses();
    void keyboardDrivesThePanels();

private:
    QueueFile* queue(const char* name);
};

namespace {

using Part = QueueFileWidget::Part;

// Every list item below `node`, by name.
void collectItems(QAccessibleInterface* node, QMap<QString, QAccessibleInterface*>& items, int depth = 0)
{
    if (!node || depth > 40)
        return;
    if (node->role() == QAccessible::ListItem)
        items.insert(node->text(QAccessible::Name), node);
    for (int i = 0; i < node->childCount(); ++i)
        collectItems(node->child(i), items, depth + 1);
}

QStringList childNames(QAccessibleInterface* item)
{
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
        names << item->child(i)->text(QAccessible::Name);
    return names;
}

QAccessibleInterface* childNamed(QAccessibleInterface* item, const QString& name)
{
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->text(QAccessible::Name) == name)
            return item->child(i);
    }
    return nullptr;
}

// Opens the context menu with `key`, notes its items and closes it again.
QStringList menuOpenedBy(QueueFileWidget* panel, int key, Qt::KeyboardModifiers modifiers)
{
    QStringList items;
    QTimer::singleShot(0, [&items] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator())
                    items << action->text();
            }
            menu->close();
        }
    });
    QTest::keyClick(panel, Qt::Key(key), modifiers);
    return items;
}

} // namespace

QueueFile* TestQueueAccess::queue(const char* name)
{
    const QString source = wav(QString::fromLatin1(name), 2, 0.5);
    if (source.isEmpty())
        return nullptr;
    return client->queue(source, source + QStringLiteral(".out.wav"), ProcessingOptions(), "1: Speech -16 LUFS");
}

void TestQueueAccess::accessibleTreeNamesStatesAndPresses()
{
    QueueFile* waiting = queue("waiting.wav");
    QueueFile* later = queue("later.wav");
    QueueFile* done = queue("done.wav");
    QueueFile* failed = queue("failed.wav");
    QVERIFY(waiting && later && done && failed);
    done->setState(QueueFileState::Done);
    failed->setState(QueueFileState::Error);
    failed->setErrorMessage("Invalid preset");
    client->tick();
    QVERIFY(QTest::qWaitForWindowExposed(client->window.get()));

    QMap<QString, QAccessibleInterface*> items;
    collectItems(QAccessible::queryAccessibleInterface(client->window.get()), items);
    QCOMPARE(items.keys(), QStringList({"done.wav, Done", "failed.wav, Error", "later.wav, Waiting",
                                        "waiting.wav, Waiting"}));
    const QStringList parts{"Move up in the queue", "Move down in the queue", "Remove from the queue", "Progress"};
    for (QAccessibleInterface* item : items)
        QCOMPARE(childNames(item), parts);
    // The panels are items of lists named as the screen names them.
    QAccessibleInterface* queueList = items.value("waiting.wav, Waiting")->parent();
    QCOMPARE(queueList->role(), QAccessible::List);
    QCOMPARE(queueList->text(QAccessible::Name), QStringLiteral("Queue"));
    QCOMPARE(queueList->childCount(), 2);
    QCOMPARE(items.value("done.wav, Done")->parent()->text(QAccessible::Name), QStringLiteral("Done files"));

    // The bar under the progress line holds its share as a value.
    client->widgetOf(later)->setBarValue(40);
    QAccessibleValueInterface* bar = childNamed(items.value("later.wav, Waiting"), "Progress")->valueInterface();
    QVERIFY(bar);
    QCOMPARE(bar->currentValue().toInt(), 40);
    QCOMPARE(bar->maximumValue().toInt(), 100);

    const QString description = items.value("failed.wav, Error")->text(QAccessible::Description);
    QVERIFY2(description.contains("Source: " + dir->filePath("failed.wav")), qPrintable(description));
    QVERIFY2(description.contains("Destination: " + dir->filePath("failed.wav.out.wav")), qPrintable(description));
    QVERIFY2(description.contains("Error: Invalid preset"), qPrintable(description));

    // A waiting file's buttons can be pressed; the finished panels show none.
    QAccessibleInterface* remove = childNamed(items.value("waiting.wav, Waiting"), "Remove from the queue");
    QVERIFY(!remove->state().disabled);
    QVERIFY(!remove->state().invisible);
    QCOMPARE(remove->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    QVERIFY(childNamed(items.value("done.wav, Done"), "Remove from the queue")->state().invisible);

    // A file that starts running: its name says so, its buttons grey out.
    later->setState(QueueFileState::Running);
    client->tick();
    QCOMPARE(items.value("later.wav, Waiting")->text(QAccessible::Name), QStringLiteral("later.wav, Running"));
    QAccessibleInterface* greyed = childNamed(items.value("later.wav, Waiting"), "Move up in the queue");
    QVERIFY(greyed->state().disabled);
    greyed->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    QCOMPARE(client->queueListOrder().first(), waiting->fileId);

    // Pressing through the tree does what the close button does (after its
    // question), once the press has returned: a reader is not held by the question.
    answerQuestion(QMessageBox::Yes);
    remove->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QVERIFY(client->manager.findFile(waiting->fileId));
    QTRY_VERIFY(!client->manager.findFile(waiting->fileId));
    QVERIFY(!client->widgetOf(waiting) || !client->widgetOf(waiting)->isVisible());
}

void TestQueueAccess::keyboardDrivesThePanels()
{
    QueueFile* first = queue("first.wav");
    QueueFile* second = queue("second.wav");
    QueueFile* third = queue("third.wav");
    QVERIFY(first && second && third);
    client->tick();
    QVERIFY(QTest::qWaitForWindowExposed(client->window.get()));
    client->window->activateWindow();
    QueueFileWidget* top = client->widgetOf(first);
    QueueFileWidget* middle = client->widgetOf(second);

    // Tab reaches the list.
    for (int i = 0; i < 40 && !qobject_cast<QueueFileWidget*>(QApplication::focusWidget()); ++i)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : client->window.get(), Qt::Key_Tab);
    QVERIFY(qobject_cast<QueueFileWidget*>(QApplication::focusWidget()));
    top->setFocus();

    // The focused panel wears a frame.
    const QColor frame = top->palette().color(QPalette::Highlight);
    QTRY_COMPARE(top->grab().toImage().pixelColor(1, 1), frame);
    QVERIFY(middle->grab().toImage().pixelColor(1, 1) != frame);

    QTest::keyClick(top, Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget(), middle);
    QTest::keyClick(middle, Qt::Key_Up);
    QCOMPARE(QApplication::focusWidget(), top);

    // Ctrl+Down moves the file as its arrow button does; the focus stays.
    QTest::keyClick(top, Qt::Key_Down, Qt::ControlModifier);
    client->tick();
    QCOMPARE(client->queueListOrder(), QList<int>({second->fileId, first->fileId, third->fileId}));
    QCOMPARE(QApplication::focusWidget(), top);
    // A screen reader meets the list's items in the new order too.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(top)->parent();
    QCOMPARE(list->child(0)->object(), middle);
    QCOMPARE(list->indexOfChild(QAccessible::queryAccessibleInterface(top)), 1);
    QTest::keyClick(top, Qt::Key_Up, Qt::ControlModifier);
    client->tick();
    QCOMPARE(client->queueListOrder(), QList<int>({first->fileId, second->fileId, third->fileId}));

    // Enter is a double click; the Menu key and Shift+F10 open the menu.
    QSignalSpy clicks(top, &QueueFileWidget::queueFileClick);
    QTest::keyClick(top, Qt::Key_Return);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first(), QVariantList({first->fileId, 1, true}));
    const QStringList waitingMenu{"Pause", "Go to source audio", "Cancel"};
    QCOMPARE(menuOpenedBy(top, Qt::Key_Menu, Qt::NoModifier), waitingMenu);
    QCOMPARE(menuOpenedBy(top, Qt::Key_F10, Qt::ShiftModifier), waitingMenu);

    // Delete asks, removes the file and hands the focus on. On a running
    // file it asks whether to cancel it, saying why: "No" leaves it running.
    answerQuestion(QMessageBox::Yes);
    QTest::keyClick(top, Qt::Key_Delete);
    QVERIFY(!client->manager.findFile(first->fileId));
    QCOMPARE(client->window->focusWidget(), middle);
    second->setState(QueueFileState::Running);
    client->tick();
    QString question;
    answerQuestion(QMessageBox::No, &question);
    QTest::keyClick(middle, Qt::Key_Delete);
    QVERIFY2(question.contains(QStringLiteral("is being processed")), qPrintable(question));
    QCOMPARE(second->getState(), QueueFileState::Running);
}

QTEST_MAIN(TestQueueAccess)
#include "tst_queueaccess.moc"
