#include "app/queuelists.h"

#include "app/queuefilewidget.h"
#include "pipeline/queuefile.h"

#include <QVBoxLayout>

#include <utility>

QueueLists::QueueLists(QVBoxLayout* queue, QVBoxLayout* done, QVBoxLayout* error, std::function<void()> changed)
    : m_queue(queue), m_done(done), m_error(error), m_changed(std::move(changed))
{
    for (QVBoxLayout* layout : {m_queue, m_done, m_error})
        layout->setAlignment(Qt::AlignTop);
}

QueueFileWidget* QueueLists::find(int fileID) const
{
    return m_byFileID.value(fileID, nullptr);
}

void QueueLists::add(QueueFileWidget* widget)
{
    m_widgets.append(widget);
    if (!m_byFileID.contains(widget->fileID()))
        m_byFileID.insert(widget->fileID(), widget);
    place(widget, List::Queue);
}

QueueLists::List QueueLists::listOf(QueueFileWidget* widget) const
{
    return m_listOf.value(widget, List::None);
}

int QueueLists::count(List list) const
{
    return m_counts[size_t(list)];
}

QVBoxLayout* QueueLists::layoutOf(List list) const
{
    switch (list) {
    case List::Queue:
        return m_queue;
    case List::Done:
        return m_done;
    case List::Error:
        return m_error;
    case List::None:
        break;
    }
    return nullptr;
}

void QueueLists::takeOut(QueueFileWidget* widget)
{
    const List list = listOf(widget);
    if (QVBoxLayout* layout = layoutOf(list)) {
        layout->removeWidget(widget);
        --m_counts[size_t(list)];
    }
    m_listOf.remove(widget);
}

void QueueLists::place(QueueFileWidget* widget, List list)
{
    takeOut(widget);
    if (QVBoxLayout* layout = layoutOf(list)) {
        layout->addWidget(widget, 0, list == List::Queue ? Qt::Alignment() : Qt::AlignTop);
        widget->show();
        m_listOf.insert(widget, list);
        ++m_counts[size_t(list)];
    }
    m_changed();
}

void QueueLists::drop(QueueFileWidget* widget)
{
    takeOut(widget);
    widget->hide();
    m_widgets.removeOne(widget);
    if (m_byFileID.value(widget->fileID()) == widget)
        m_byFileID.remove(widget->fileID());
    m_changed();
}

void QueueLists::followQueueOrder(const QList<QueueFile*>& files)
{
    int index = 0;
    for (const QueueFile* file : files) {
        QueueFileWidget* widget = find(file->fileId);
        if (!widget || listOf(widget) != List::Queue)
            continue;
        const QLayoutItem* item = m_queue->itemAt(index);
        if (!item || item->widget() != widget) {
            m_queue->removeWidget(widget);
            m_queue->insertWidget(index, widget);
        }
        ++index;
    }
}
