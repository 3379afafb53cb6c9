#pragma once

#include "app/core/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zorvane {

// Both views of one screen: where the window system places it (AppKit global coordinates, origin
// at the bottom-left of the primary screen, y up) and its display bounds (Quartz global
// coordinates, origin at the top-left of the main display, y down), both in points.
struct DisplayGeometry {
    Rect appKitFrame;
    Rect quartzBounds;
    friend bool operator==(const DisplayGeometry&, const DisplayGeometry&) = default;
};

struct ScreenDescription {
    // None for a screen the window system gives no display number; such screens are not used.
    std::optional<std::uint32_t> displayID;
    Rect appKitFrame;
    // The part of appKitFrame not covered by the menu bar, docks and panels, in AppKit coordinates.
    Rect visibleFrame;
    Rect quartzBounds;
};

// The attached screens, read afresh on every call (displays come and go). Main thread only.
class Screens {
public:
    virtual ~Screens() = default;
    // In the window system's order, the primary screen (the one with the menu bar) first.
    virtual std::vector<ScreenDescription> screens() = 0;
};

} // namespace zorvane
