// Times one dropped video through the real main window and its timers: from
// the drop to the moment the new video is finished, and, within that, the
// time the extracted sound spent with the service (upload, processing and
// download: the queue file's Running state). The add-file dialog is
// accepted as soon as it shows.
//   videobench API_URL VIDEO
// Prints: total_s=X service_s=X ours_s=X output=PATH
#include "app/mainwindow.h"
#include "dialogs/dlgaddfile.h"
#include "driver/account.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"
#include "settings/settings.h"
#include "video/ffmpegtool.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char* argv[])
{
    qSetMessagePattern(QStringLiteral("%{message}"));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: videobench API_URL VIDEO\n");
        return 2;
    }
    ffmpegtool::setFfmpegFolder(QString());
    if (!ffmpegtool::isFfmpegAvailable()) {
        std::fprintf(stderr, "no ffmpeg on the PATH\n");
        return 1;
    }

    Settings settings;
    settings.wUsername = "demo@sonvira.local";
    settings.wPassword = "demo";
    QueueManager manager;
    if (!manager.createSessions(args.at(1).toUtf8(), 1))
        return 1;
    Account account(settings, manager);
    MainWindow window;
    window.setContext(settings, manager, account);
    // Each run starts with an empty queue, not with the last run's.
    QFile::remove(queuestore::defaultPath());
    window.initialise();

    QElapsedTimer clock;
    qint64 runningSince = -1;
    qint64 serviceMs = 0;
    bool dropped = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!dropped && !manager.presets().isEmpty()) {
            dropped = true;
            clock.start();
            QTimer::singleShot(0, &window, [&] { window.addFiles({QUrl::fromLocalFile(args.at(2))}); });
        }
        if (auto* dialog = qobject_cast<dlgAddFile*>(QApplication::activeModalWidget()))
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        for (const QueueFile* file : manager.snapshot()) {
            const bool running = file->getState() == QueueFileState::Running;
            if (running && runningSince < 0)
                runningSince = clock.elapsed();
            if (!running && runningSince >= 0) {
                serviceMs += clock.elapsed() - runningSince;
                runningSince = -1;
            }
        }
    });
    poll.start(10);

    QString output;
    QObject::connect(&window, &MainWindow::trayMessageShown, &app, [&](const QString& title, const QString&) {
        if (title != QLatin1String("Video files ready"))
            return;
        const double total = double(clock.elapsed()) / 1000.0;
        const double service = double(serviceMs) / 1000.0;
        std::printf("total_s=%.2f service_s=%.2f ours_s=%.2f\n", total, service, total - service);
        std::fflush(stdout);
        QApplication::quit();
    });
    QTimer::singleShot(30 * 60 * 1000, &app, [] {
        std::fprintf(stderr, "timed out\n");
        QApplication::exit(1);
    });
    return QApplication::exec();
}
