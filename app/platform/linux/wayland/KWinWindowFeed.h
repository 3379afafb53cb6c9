#pragma once

#include "app/platform/Clock.h"
#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/WaylandEventMonitors.h"

#include <QDBusContext>
#include <QObject>

#include <filesystem>
#include <memory>

namespace zorvane {

// KDE Plasma's windows and pointer from the KWin script we ship (resources/kwin): on start the
// script is loaded into KWin over D-Bus, replacing whatever copy a previous run left there, and it
// calls us back on the session bus with the window list and the pointer's moves. Only calls from
// KWin's own connection are believed. Unloaded again when we quit. Main thread only.
class KWinWindowFeed final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenvar.Zorvane.KWinHelper")

public:
    // None when the session bus or our name on it is not to be had.
    static std::unique_ptr<KWinWindowFeed> start(const std::filesystem::path& script, std::shared_ptr<CompositorWindows> windows,
        std::shared_ptr<WaylandEventMonitors> monitors, std::shared_ptr<Clock> clock);
    ~KWinWindowFeed() override;

    // The script's report of the windows, front to back, as JSON; none when it is not one.
    static std::optional<std::vector<CompositorWindow>> windowsFromReport(const QString& json);

public Q_SLOTS:
    Q_SCRIPTABLE void Windows(const QString& json);
    // "x y milliseconds-since-the-epoch", in the layout's coordinates.
    Q_SCRIPTABLE void Pointer(const QString& report);

private:
    KWinWindowFeed(std::shared_ptr<CompositorWindows> windows, std::shared_ptr<WaylandEventMonitors> monitors, std::shared_ptr<Clock> clock);
    bool fromKWin();
    void load(const std::filesystem::path& script);

    std::shared_ptr<CompositorWindows> windows_;
    std::shared_ptr<WaylandEventMonitors> monitors_;
    std::shared_ptr<Clock> clock_;
    QString kwin_; // KWin's connection on the bus
};

} // namespace zorvane
