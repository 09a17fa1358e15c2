#pragma once

#include <QString>

#include <functional>

// The freedesktop session-bus interfaces of the desktop, for the platform
// layer: the dock's launcher entry and desktop notifications. Built only
// where Qt has D-Bus; every call is asynchronous and nothing waits for an
// answer. Main thread only.
namespace desktopbus {

// The com.canonical.Unity.LauncherEntry Update signal for the desktop entry
// `appUri` ("application://<id>.desktop"): the progress from 0 to 1 and a
// count, each shown or not. False when there is no session bus.
bool updateLauncherEntry(const QString& appUri, double progress, bool progressVisible, qint64 count,
                         bool countVisible);

// org.freedesktop.Notifications Notify, replacing the notice this process
// showed last, with a default action: `onClicked` runs on the event loop
// when the notice is clicked (its ActionInvoked signal). False when there is
// no session bus.
// The notice names the application, its icon and its desktop entry (the id
// without ".desktop").
bool notify(const QString& appName, const QString& icon, const QString& desktopEntry, const QString& title,
            const QString& text, std::function<void()> onClicked);

} // namespace desktopbus
