#include "app/platform/linux/x11/X11ScreenLock.h"

// Qt before Xlib: Xlib defines Bool, Status and None as macros.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace zorvane {

namespace {

bool serverSaverOn()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    int eventBase = 0, errorBase = 0;
    if (!display || !XScreenSaverQueryExtension(display, &eventBase, &errorBase)) return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info) return false;
    const bool on = XScreenSaverQueryInfo(display, DefaultRootWindow(display), info) && info->state == ScreenSaverOn;
    XFree(info);
    return on;
}

// GNOME's name first, then the freedesktop one that KDE, Xfce, MATE and Cinnamon answer to.
bool serviceSaysActive(const char* service, const char* path, const char* interface)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
        QString::fromLatin1(interface), QStringLiteral("GetActive"));
    call.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, int(X11ScreenLock::busBound.count()));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() && reply.arguments().first().toBool();
}

} // namespace

bool X11ScreenLock::isLocked()
{
    if (serverSaverOn()) return true;
    if (!QDBusConnection::sessionBus().isConnected()) return false;
    return serviceSaysActive("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver")
        || serviceSaysActive("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver");
}

} // namespace zorvane
