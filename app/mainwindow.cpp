#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "settings/naming.h"
#include "settings/settings.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QTimer>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // Developer aids of the form; not part of the product.
    ui->btnTest1->hide();
    ui->btnTest2->hide();
    ui->btnAddFile_Test->hide();
    ui->btnTestWizard->hide();
}

MainWindow::~MainWindow()
{
    for (QTimer* timer : std::as_const(timers))
        timer->stop();
    if (settings)
        saveSettings();
    if (trayIcon)
        trayIcon->hide();
    qDebug() << "delete ui ";
    delete ui;
}

void MainWindow::saveSettings()
{
    const QString folder = naming::appConfigFolder();
    QDir().mkpath(folder);
    if (!settings->save(folder + QStringLiteral("/settings.xml"), true))
        qWarning() << "Error saving settings";
}

void MainWindow::setContext(Settings* settingsObject, QueueManager* manager)
{
    settings = settingsObject;
    queueManager = manager;
}

void MainWindow::initialise()
{
    statusBar()->showMessage(tr("Initializing"));

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/icon.png")), this);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_trayicon_activated);

    if (settings)
        setWindowTitle(windowTitle() + QStringLiteral(" (") + QString::fromUtf8(settings->versionText)
                       + QStringLiteral(")"));
}

void MainWindow::on_trayicon_activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    qDebug() << "double click";
    showNormal();
}

void MainWindow::on_actionQuit_triggered()
{
    quitChosen = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (settings && settings->hideWhenClosed && !quitChosen) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
}
