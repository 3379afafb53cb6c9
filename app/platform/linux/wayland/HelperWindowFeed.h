#pragma once

#include "app/platform/Clock.h"
#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/WaylandEventMonitors.h"

#include <QDBusContext>
#include <QObject>

#include <filesystem>
#include <memory>

namespace zorvane {

// The windows and the pointer from a helper we ship inside the compositor, which calls us on the
// session bus: KDE Plasma's KWin script (resources/kwin), loaded into KWin over D-Bus at start,
// replacing whatever copy a previous run left there, and unloaded when we quit; GNOME Shell's
// extension (resources/gnome-shell), which the user installs from the settings. Only calls from
// the compositor's own connection are believed. Main thread only.
class HelperWindowFeed final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenvar.Zorvane.WindowHelper")

public:
    // compositor: its name on the bus ("org.kde.KWin", "org.gnome.Shell"); kwinScript: the script
    // to load into KWin, empty for none. None when the session bus or our name on it is not to be had.
    static std::unique_ptr<HelperWindowFeed> start(const QString& compositor, const std::filesystem::path& kwinScript,
        std::shared_ptr<CompositorWindows> windows, std::shared_ptr<WaylandEventMonitors> monitors, std::shared_ptr<Clock> clock);
    ~HelperWindowFeed() override;

    // The script's report of the windows, front to back, as JSON; none when it is not one.
    static std::optional<std::vector<CompositorWindow>> windowsFromReport(const QString& json);

public Q_SLOTS:
    Q_SCRIPTABLE void Windows(const QString& json);
    // "x y milliseconds-since-the-epoch", in the layout's coordinates.
    Q_SCRIPTABLE void Pointer(const QString& report);

private:
    HelperWindowFeed(const QString& compositor, std::shared_ptr<CompositorWindows> windows, std::shared_ptr<WaylandEventMonitors> monitors,
        std::shared_ptr<Clock> clock);
    bool fromCompositor();
    void load(const std::filesystem::path& script);

    std::shared_ptr<CompositorWindows> windows_;
    std::shared_ptr<WaylandEventMonitors> monitors_;
    std::shared_ptr<Clock> clock_;
    QString compositor_, connection_; // its name and its connection on the bus
    bool scriptLoaded_ = false;
};

} // namespace zorvane
