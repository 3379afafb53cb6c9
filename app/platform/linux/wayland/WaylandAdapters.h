#pragma once

#include "app/platform/Clock.h"
#include "app/platform/WindowList.h"
#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/WaylandEventMonitors.h"
#include "app/platform/linux/wayland/WaylandOverlayPanels.h"
#include "app/platform/linux/wayland/WaylandScreens.h"
#include "app/platform/linux/wayland/WaylandSession.h"
#include "app/platform/linux/wayland/WaylandWindowImages.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace zorvane {

// The adapters that differ on a Wayland session, built for its desktop. Build after the
// QGuiApplication exists, on the main thread.
struct WaylandAdapters {
    wayland::Desktop desktop = wayland::Desktop::other;
    std::shared_ptr<WaylandScreens> screens;
    // Wayland gives no client the other windows; a compositor helper may (sway's IPC, our KWin
    // script). Without one the core falls back to the area around the pointer.
    std::shared_ptr<WindowList> windowList;
    std::shared_ptr<CompositorWindows> compositorWindows; // null without a helper
    std::shared_ptr<void> windowFeed;                     // keeps the helper's reader running
    std::shared_ptr<WaylandWindowImages> windowImages;
    std::shared_ptr<WaylandOverlayPanels> overlayPanels;
    std::shared_ptr<WaylandEventMonitors> eventMonitors;
    // The screen-capture half of the permissions: false only where the desktop is known to refuse.
    std::function<bool()> isCaptureAllowed;

    // resources: the program's data, where KWin's helper script is.
    static WaylandAdapters create(std::shared_ptr<Clock> clock, const std::filesystem::path& resources = {});
};

} // namespace zorvane
