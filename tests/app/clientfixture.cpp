#include "clientfixture.h"

#include "app/windowstate.h"
#include "pipeline/queuestore.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTabWidget>
#include <QTest>

ClientFixture::ClientFixture()
    : window(std::make_unique<MainWindow>())
{
    // Every test starts with an empty queue, not with the one the window of
    // the previous test saved at its end.
    QFile::remove(queuestore::defaultPath());
    QFile::remove(WindowState::defaultPath());
    // The welcome wizard is tested on its own; here it would stop every test.
    settings.showFirstTime_AddWatchFolderDialog = false;
    window->setContext(settings, manager, account);
    QObject::connect(window.get(), &MainWindow::trayMessageShown, window.get(),
                     [this](const QString& title, const QString& message) { trayMessages << title + message; });
}

ClientFixture::~ClientFixture()
{
    window.reset();
}

void ClientFixture::start()
{
    if (started)
        return;
    started = true;
    window->initialise();
    window->show();
}

bool ClientFixture::logIn(const QString& apiUrl, int sessions)
{
    settings.wUsername = "demo@sonvira.local";
    settings.wPassword = "demo";
    if (!manager.createSessions(apiUrl.toUtf8(), sessions))
        return false;
    // The window hands the stored credentials over as it starts.
    if (started)
        manager.setCredentials(settings.wUsername, settings.wPassword);
    start();
    return QTest::qWaitFor([this] { return manager.state() == QueueManager::Running && !manager.presets().isEmpty(); },
                           20000);
}

QueueFile* ClientFixture::queue(const QString& source, const QString& destination, const ProcessingOptions& options,
                                const QByteArray& preset)
{
    QByteArray chosen = preset;
    if (chosen.isEmpty())
        chosen = manager.presets().isEmpty() ? QByteArray("1: Speech") : manager.presets().first();
    return manager.addFileToQueue(source, 10, destination, chosen, options);
}

QueueFileWidget* ClientFixture::widgetOf(const QueueFile* file) const
{
    for (QueueFileWidget* widget : window->findChildren<QueueFileWidget*>()) {
        if (widget->fileID() == file->fileId)
            return widget;
    }
    return nullptr;
}

QString ClientFixture::listOf(const QueueFileWidget* widget) const
{
    const std::pair<const char*, const char*> lists[] = {
        {"verticalLayout", "queue"}, {"verticalLayoutDone", "done"}, {"verticalLayoutError", "error"}};
    for (const auto& [layoutName, name] : lists) {
        auto* layout = window->findChild<QVBoxLayout*>(QString::fromLatin1(layoutName));
        if (layout && layout->indexOf(widget) >= 0)
            return QString::fromLatin1(name);
    }
    return QString();
}

QStringList ClientFixture::contextMenu(QueueFileWidget* widget) const
{
    const std::unique_ptr<QMenu> menu = widget->requestContextMenu();
    if (!menu)
        return {QStringLiteral("(none)")};
    QStringList items;
    for (QAction* item : menu->actions())
        items << (item->isSeparator() ? QStringLiteral("|") : item->text());
    return items;
}

bool ClientFixture::choose(QueueFileWidget* widget, const QString& item) const
{
    const std::unique_ptr<QMenu> menu = widget->requestContextMenu();
    if (!menu)
        return false;
    for (QAction* action : menu->actions()) {
        if (action->text() == item) {
            emit widget->queueFileContextMenuClicked(widget, widget->fileID(), action->data().toString());
            return true;
        }
    }
    return false;
}

QList<int> ClientFixture::queueListOrder() const
{
    QList<int> order;
    const auto* layout = window->findChild<QVBoxLayout*>(QStringLiteral("verticalLayout"));
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (const auto* widget = qobject_cast<const QueueFileWidget*>(layout->itemAt(i)->widget()))
            order << widget->fileID();
    }
    return order;
}

QAction* ClientFixture::action(const char* name) const
{
    return window->findChild<QAction*>(QString::fromLatin1(name));
}

QString ClientFixture::tabTitle(int index) const
{
    return window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(index);
}

void ClientFixture::tick()
{
    window->queueDriver().queueTick();
}

bool ClientFixture::dropUrls(const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    return true;
}
