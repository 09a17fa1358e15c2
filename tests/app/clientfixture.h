#pragma once

#include "app/mainwindow.h"
#include "app/queuefilewidget.h"
#include "driver/account.h"
#include "driver/queuedriver.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/settings.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <QList>
#include <QUrl>

#include <memory>

// A real main window on a real queue manager, as main builds them. Without
// sessions the manager's cycle does nothing, so a test can move files
// through their states by hand and watch what the window's driver does.
class ClientFixture {
public:
    ClientFixture();
    ~ClientFixture();

    // Sessions on the given service, stored credentials, and the window's
    // timers (unless start() ran already); waits until the presets are loaded.
    bool logIn(const QString& apiUrl, int sessions = 1);
    // The window's initialisation and timers, once.
    void start();

    // Queues with priority 10 and the given preset, or the first loaded
    // preset ("1: Speech" while none are loaded).
    QueueFile* queue(const QString& source, const QString& destination,
                     const ProcessingOptions& options = ProcessingOptions(), const QByteArray& preset = {});
    QueueFileWidget* widgetOf(const QueueFile* file) const;
    // "queue", "done", "error" or "" for the list that shows the widget.
    QString listOf(const QueueFileWidget* widget) const;
    // Texts of the widget's context menu ("|" for a separator), or
    // "(none)" when the window refuses one.
    QStringList contextMenu(QueueFileWidget* widget) const;
    // Chooses the item with that text from the widget's context menu, as a
    // click in the open menu does; false when the menu does not offer it.
    bool choose(QueueFileWidget* widget, const QString& item) const;
    // The file IDs of the queue list's panels, top to bottom.
    QList<int> queueListOrder() const;
    QAction* action(const char* name) const;
    QString tabTitle(int index) const;
    // Runs the driver's queue tick once, as its 100 ms timer does.
    void tick();
    // Drags the URLs onto the window and drops them there; false when the
    // window refused the drag, in which case nothing is dropped.
    bool dropUrls(const QList<QUrl>& urls);

    Settings settings;
    QueueManager manager;
    Account account{settings, manager};
    std::unique_ptr<MainWindow> window;
    QStringList trayMessages;

private:
    bool started = false;
};
