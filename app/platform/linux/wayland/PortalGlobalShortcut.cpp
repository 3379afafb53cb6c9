#include "app/platform/linux/wayland/PortalGlobalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>

namespace zorvane {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Shortcut {
    QString id;
    QVariantMap properties;
};
using Shortcuts = QList<Shortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

} // namespace zorvane

Q_DECLARE_METATYPE(zorvane::Shortcut)

namespace zorvane {

namespace {

Shortcuts ourShortcuts()
{
    return {{QString::fromLatin1(PortalGlobalShortcut::shortcutId),
        {{QStringLiteral("description"), QStringLiteral("Seleccionar en pantalla")},
            {QStringLiteral("preferred_trigger"), QString::fromLatin1(PortalGlobalShortcut::preferredTrigger)}}}};
}

} // namespace

PortalGlobalShortcut::PortalGlobalShortcut(std::function<void()> activated) : activated_(std::move(activated))
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<Shortcuts>();
}

QString PortalGlobalShortcut::objectPath(const char* kind, const QString& token)
{
    return portalPath + QLatin1Char('/') + QLatin1String(kind) + QLatin1Char('/')
        + QDBusConnection::sessionBus().baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')) + QLatin1Char('/') + token;
}

void PortalGlobalShortcut::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
    const QString token = QStringLiteral("zorvaneshortcuts");
    // The portal names the session after our connection and token: activations of other
    // programs' sessions reach us too and are told apart by it.
    session_ = objectPath("session", QStringLiteral("zorvane"));
    bus.connect(portalService, objectPath("request", token), QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
        SLOT(onSessionCreated(uint, QVariantMap)));
    QDBusMessage create = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, QStringLiteral("CreateSession"));
    create << QVariantMap {{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), QStringLiteral("zorvane")},
        {QStringLiteral("shortcuts"), QVariant::fromValue(ourShortcuts())}};
    bus.asyncCall(create);
}

void PortalGlobalShortcut::onSessionCreated(uint code, const QVariantMap& results)
{
    if (code != 0) return;
    session_ = results.value(QStringLiteral("session_handle"), session_).toString();
    QDBusMessage bind = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, QStringLiteral("BindShortcuts"));
    bind << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(ourShortcuts()) << QString()
         << QVariantMap {{QStringLiteral("handle_token"), QStringLiteral("zorvanebind")}};
    QDBusConnection::sessionBus().asyncCall(bind);
}

void PortalGlobalShortcut::onActivated(const QDBusMessage& signal)
{
    const QVariantList arguments = signal.arguments();
    if (arguments.size() < 2) return;
    if (arguments[0].value<QDBusObjectPath>().path() == session_ && arguments[1].toString() == QLatin1String(shortcutId) && activated_)
        activated_();
}

} // namespace zorvane
