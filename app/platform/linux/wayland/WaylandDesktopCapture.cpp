#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include "app/platform/linux/wayland/WaylandScreens.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusArgument>
#include <QGuiApplication>
#include <QScreen>

namespace zorvane {

namespace {

std::vector<SnapshotScreen> currentScreens()
{
    std::vector<SnapshotScreen> screens;
    for (QScreen* screen : QGuiApplication::screens())
        screens.push_back({screen->name(), screen->geometry(), WaylandScreens::quartzBounds(*screen)});
    return screens;
}

} // namespace

WaylandDesktopCapture::WaylandDesktopCapture(wayland::Desktop desktop) : limit_(limitSeconds), desktop_(desktop)
{
    using wayland::Desktop;
    if (desktop == Desktop::wlroots || desktop == Desktop::other) sources_.push_back(makeWlrScreencopy());
    if (desktop == Desktop::kde) sources_.push_back(makeKWinScreenShot());
    sources_.push_back(makePortalScreenshot(desktop));
}

WaylandDesktopCapture::WaylandDesktopCapture(std::vector<std::unique_ptr<SnapshotSource>> sources, double limit)
    : sources_(std::move(sources)), limit_(limit)
{
}

WaylandDesktopCapture::~WaylandDesktopCapture() = default;

void WaylandDesktopCapture::take(SnapshotDone done)
{
    // The first capture on GNOME shows the system's question: give the user time to answer it.
    const bool asking = desktop_ == wayland::Desktop::gnome && !gnomeScreenshotPermission();
    tryFrom(0, currentScreens(), asking ? askingLimitSeconds : limit_, std::make_shared<SnapshotDone>(std::move(done)), std::nullopt);
}

void WaylandDesktopCapture::tryFrom(std::size_t index, std::vector<SnapshotScreen> screens, double limit,
    std::shared_ptr<SnapshotDone> done, std::optional<CaptureRefusal> last)
{
    if (index >= sources_.size()) {
        (*done)(last.value_or(CaptureRefusal {"Este escritorio no ofrece ninguna forma de capturar la pantalla. Instala "
                                              "xdg-desktop-portal y el portal de tu escritorio y vuelve a intentarlo."}));
        return;
    }
    sources_[index]->take(screens, limit, [this, index, screens, limit, done](SnapshotOutcome outcome) {
        if (auto* refusal = std::get_if<CaptureRefusal>(&outcome); refusal && refusal->tryNext) {
            tryFrom(index + 1, screens, limit, done, *refusal);
            return;
        }
        (*done)(std::move(outcome));
    });
}

std::optional<bool> WaylandDesktopCapture::gnomeScreenshotPermission()
{
    // Read only: the answer is the user's, given in the system's own dialog.
    QDBusMessage lookup = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"), QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("Lookup"));
    lookup << QStringLiteral("screenshot") << QStringLiteral("screenshot");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(lookup, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    // a{sas}: application id → answers; programs outside a sandbox have the empty id.
    QMap<QString, QStringList> table;
    reply.arguments().first().value<QDBusArgument>() >> table;
    const auto entry = table.constFind(QString());
    if (entry == table.constEnd() || entry->isEmpty()) return std::nullopt;
    return entry->first() == QLatin1String("yes");
}

bool WaylandDesktopCapture::isCaptureAllowed(wayland::Desktop desktop)
{
    if (desktop != wayland::Desktop::gnome) return true;
    return gnomeScreenshotPermission().value_or(true);
}

} // namespace zorvane
