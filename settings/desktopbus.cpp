#include "settings/desktopbus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QVariantMap>

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// The notice this process showed last and what its click does. Lives on the
// main thread as a child of the application; made at the first notice.
class NoticeClicks : public QObject {
    Q_OBJECT

public:
    static NoticeClicks& instance(QDBusConnection& bus)
    {
        static NoticeClicks* clicks = nullptr;
        if (!clicks) {
            clicks = new NoticeClicks(QCoreApplication::instance());
            bus.connect(QString(), kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"), clicks,
                        SLOT(actionInvoked(uint, QString)));
            bus.connect(QString(), kNotificationsPath, kNotifications, QStringLiteral("NotificationClosed"), clicks,
                        SLOT(closed(uint, uint)));
        }
        return *clicks;
    }

    uint shownId() const { return m_id; }
    void shown(uint id, std::function<void()> onClicked)
    {
        m_id = id;
        m_onClicked = std::move(onClicked);
    }

public slots:
    void actionInvoked(uint id, const QString& action)
    {
        Q_UNUSED(action)
        if (id == m_id && m_onClicked)
            m_onClicked();
    }
    void closed(uint id, uint reason)
    {
        Q_UNUSED(reason)
        if (id == m_id)
            shown(0, nullptr);
    }

private:
    using QObject::QObject;

    uint m_id = 0;
    std::function<void()> m_onClicked;
};

} // namespace

namespace desktopbus {

bool updateLauncherEntry(const QString& appUri, double progress, bool progressVisible, qint64 count,
                         bool countVisible)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/sonvira"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const QVariantMap properties{{QStringLiteral("progress"), progress},
        {QStringLiteral("progress-visible"), progressVisible}, {QStringLiteral("count"), count},
        {QStringLiteral("count-visible"), countVisible}};
    update << appUri << properties;
    return bus.send(update);
}

bool notify(const QString& appName, const QString& icon, const QString& desktopEntry, const QString& title,
            const QString& text, std::function<void()> onClicked)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    NoticeClicks& clicks = NoticeClicks::instance(bus);
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                       QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopEntry}};
    call << appName << clicks.shownId() << icon << title << text
         << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &clicks);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [&clicks, onClicked = std::move(onClicked)](QDBusPendingCallWatcher* answer) {
                         const QDBusPendingReply<uint> reply = *answer;
                         if (reply.isError())
                             qWarning().noquote() << "No desktop notification:" << reply.error().message();
                         else
                             clicks.shown(reply.value(), onClicked);
                         answer->deleteLater();
                     });
    return true;
}

} // namespace desktopbus

#include "desktopbus.moc"
