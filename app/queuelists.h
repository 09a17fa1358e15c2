#pragma once

#include <QHash>
#include <QList>

#include <array>
#include <functional>

class QVBoxLayout;
class QueueFile;
class QueueFileWidget;

// The widgets of the queued files and the three lists that show them: the
// queue, the Done tab and the Error tab. A widget sits in at most one list;
// a dropped widget is hidden and forgotten (it is destroyed with its parent).
class QueueLists {
public:
    enum class List { None, Queue, Done, Error };

    // `changed` runs whenever a widget enters or leaves a list.
    QueueLists(QVBoxLayout* queue, QVBoxLayout* done, QVBoxLayout* error, std::function<void()> changed);

    // In creation order.
    const QList<QueueFileWidget*>& widgets() const { return m_widgets; }
    QueueFileWidget* find(int fileID) const;
    // Remembers a new widget and shows it at the end of the queue list.
    void add(QueueFileWidget* widget);
    List listOf(QueueFileWidget* widget) const;
    // How many widgets `list` shows.
    int count(List list) const;
    // Takes the widget out of its list and appends it to `list`.
    void place(QueueFileWidget* widget, List list);
    void drop(QueueFileWidget* widget);
    // Puts the queue list's widgets in the order of their files in `files`
    // (the queue manager's order); touches the list only when it differs.
    void followQueueOrder(const QList<QueueFile*>& files);

private:
    QVBoxLayout* layoutOf(List list) const;
    void takeOut(QueueFileWidget* widget);

    QVBoxLayout* m_queue;
    QVBoxLayout* m_done;
    QVBoxLayout* m_error;
    QList<QueueFileWidget*> m_widgets;
    QHash<int, QueueFileWidget*> m_byFileID;
    QHash<QueueFileWidget*, List> m_listOf;
    // How many widgets each list shows, by List.
    std::array<int, 4> m_counts{};
    std::function<void()> m_changed;
};
