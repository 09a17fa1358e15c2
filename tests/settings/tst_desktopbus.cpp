#include "settings/platform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// Stands in for the desktop's notification service: keeps each Notify call
// and answers with the next id.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        Q_UNUSED(icon)
        Q_UNUSED(timeout)
        calls << QStringList{appName, QString::number(replacesId), summary, body, actions.join(QLatin1Char('|')),
                             hints.value(QStringLiteral("desktop-entry")).toString()};
        return ++lastId;
    }

public:
    QList<QStringList> calls;
    uint lastId = 6;
};

// Keeps each launcher-entry Update seen on the bus.
class LauncherWatch : public QObject {
    Q_OBJECT

public slots:
    void update(const QString& appUri, const QVariantMap& properties)
    {
        uris << appUri;
        updates << properties;
    }

public:
    QStringList uris;
    QList<QVariantMap> updates;
};

// The dock's launcher entry and the desktop notice, on a session bus of the
// test's own (a dbus-daemon it starts), with a stand-in notification
// service and a watcher of the launcher signals on a second connection.
class TestDesktopBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void launcherEntryCarriesProgressAndWaitingFiles();
    void noticeIsShownAndItsClickAnswered();

private:
    void emitFromService(const QString& name, const QVariantList& arguments);

    QProcess daemon;
    FakeNotifications notifications;
    LauncherWatch launcher;
};

void TestDesktopBus::initTestCase()
{
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(10000))
        QSKIP("dbus-daemon is not installed (scripts/install-deps installs dbus)");
    QVERIFY(daemon.waitForReadyRead(10000));
    const QByteArray address = daemon.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    // Before the first use of the session bus, so that the client's calls go here.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QDBusConnection peer = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("peer"));
    QVERIFY(peer.isConnected());
    QVERIFY(peer.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QVERIFY(peer.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(peer.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                         QStringLiteral("Update"), &launcher, SLOT(update(QString, QVariantMap))));
}

void TestDesktopBus::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("peer"));
    daemon.kill();
    daemon.waitForFinished();
}

void TestDesktopBus::emitFromService(const QString& name, const QVariantList& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"), name);
    signal.setArguments(arguments);
    QVERIFY(QDBusConnection(QStringLiteral("peer")).send(signal));
}

void TestDesktopBus::launcherEntryCarriesProgressAndWaitingFiles()
{
    platform::TaskbarProgress progress;
    progress.visible = true;
    progress.percent = 40;
    progress.waiting = 3;
    platform::showTaskbarProgress(0, progress);
    QTRY_COMPARE(launcher.updates.size(), 1);
    QCOMPARE(launcher.uris.first(), QStringLiteral("application://example.sonvira.Desktop.desktop"));
    const QVariantMap running = launcher.updates.first();
    QCOMPARE(running.value("progress").toDouble(), 0.4);
    QCOMPARE(running.value("progress-visible").toBool(), true);
    // The count is a 64-bit integer, as the docks read it.
    QCOMPARE(running.value("count").metaType(), QMetaType::fromType<qlonglong>());
    QCOMPARE(running.value("count").toLongLong(), 3);
    QCOMPARE(running.value("count-visible").toBool(), true);

    // Idle: neither is shown.
    platform::showTaskbarProgress(0, platform::TaskbarProgress());
    QTRY_COMPARE(launcher.updates.size(), 2);
    QCOMPARE(launcher.updates.last().value("progress-visible").toBool(), false);
    QCOMPARE(launcher.updates.last().value("count-visible").toBool(), false);
}

void TestDesktopBus::noticeIsShownAndItsClickAnswered()
{
    int clicks = 0;
    QVERIFY(platform::showDesktopNotice("Audio files ready", "Files processed: 3", [&clicks] { ++clicks; }));
    QTRY_COMPARE(notifications.calls.size(), 1);
    const QStringList first = notifications.calls.first();
    QCOMPARE(first.at(0), QCoreApplication::applicationName());
    QCOMPARE(first.at(1), QStringLiteral("0"));
    QCOMPARE(first.at(2), QStringLiteral("Audio files ready"));
    QCOMPARE(first.at(3), QStringLiteral("Files processed: 3"));
    QVERIFY(first.at(4).startsWith(QStringLiteral("default|")));
    QCOMPARE(first.at(5), QStringLiteral("example.sonvira.Desktop"));

    // A click on another application's notice is not ours; one on ours is.
    emitFromService("ActionInvoked", {uint(99), QStringLiteral("default")});
    emitFromService("ActionInvoked", {uint(7), QStringLiteral("default")});
    QTRY_COMPARE(clicks, 1);

    // The next notice replaces it; once closed, a late click does nothing.
    QVERIFY(platform::showDesktopNotice("Audio files ready", "Errors: 1", [&clicks] { clicks += 10; }));
    QTRY_COMPARE(notifications.calls.size(), 2);
    QCOMPARE(notifications.calls.last().at(1), QStringLiteral("7"));
    emitFromService("NotificationClosed", {uint(8), uint(2)});
    emitFromService("ActionInvoked", {uint(8), QStringLiteral("default")});
    emitFromService("ActionInvoked", {uint(7), QStringLiteral("default")});
    // Signals arrive in order: a notice shown after them proves they were all read.
    QVERIFY(platform::showDesktopNotice("Audio files ready", "Files processed: 1", [&clicks] { clicks += 100; }));
    QTRY_COMPARE(notifications.calls.size(), 3);
    emitFromService("ActionInvoked", {uint(9), QStringLiteral("default")});
    QTRY_COMPARE(clicks, 101);
}

QTEST_GUILESS_MAIN(TestDesktopBus)
#include "tst_desktopbus.moc"
