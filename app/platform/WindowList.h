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
};

} // namespace zorvane
