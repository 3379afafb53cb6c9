#pragma once

#include "app/core/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zorvane {

using ProcessID = std::int32_t;

// One on-screen window as the window server describes it; a fact it cannot tell is absent.
struct WindowInfo {
    std::optional<ProcessID> ownerPID;
    // 0 for ordinary application windows; menus, docks, panels kept above, desktop and the
    // like are on other layers.
    std::optional<int> layer;
    std::optional<Rect> bounds; // Quartz global coordinates, points
};

class WindowList {
public:
    virtual ~WindowList() = default;
    // The on-screen windows without desktop elements, front to back; none when the window
    // server gives no list.
    virtual std::optional<std::vector<WindowInfo>> onScreenWindows() = 0;
    // The frontmost on-screen window on layer 0 whose bounds contain the point (Quartz global
    // coordinates) and whose owner is known and is not excludedPID; none when there is none or no
    // list. Asked on every pointer move: adapters override it with something cheaper than a list.
    virtual std::optional<WindowInfo> topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID);
};

inline std::optional<WindowInfo> WindowList::topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID)
{
    const auto windows = onScreenWindows();
    if (!windows) return std::nullopt;
    for (const WindowInfo& window : *windows) {
        if (!window.ownerPID || *window.ownerPID == excludedPID) continue;
        if (!window.layer || *window.layer != 0) continue;
        if (window.bounds && window.bounds->contains(quartzPoint)) return window;
    }
    return std::nullopt;
}

} // namespace zorvane
