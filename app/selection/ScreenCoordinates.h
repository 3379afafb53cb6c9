#pragma once

#include "app/core/Geometry.h"
#include "app/platform/Screens.h"

#include <optional>
#include <vector>

// Which display a point or rectangle belongs to, clamping to a display, and the one conversion
// between Quartz and AppKit global coordinates. Nothing is cached: every call reads the screen list
// again, so displays attached, detached or rearranged count from the next call. Main thread only.
namespace zorvane::ScreenCoordinates {

// One entry per screen that has a display number, in the screen list's order.
std::vector<DisplayGeometry> currentDisplays(Screens& screens);

// The Quartz bounds of the first display containing the point, or none.
std::optional<Rect> quartzBounds(Screens& screens, Point containingQuartzPoint);

// The display overlapping the rectangle most (a later one wins only with a strictly greater
// area), or none when it overlaps no display.
std::optional<DisplayGeometry> bestDisplay(const Rect& quartzRect, const std::vector<DisplayGeometry>& displays);

// The rectangle in AppKit global coordinates, placed relative to the display holding most of
// it and not clamped; none when it overlaps no display.
std::optional<Rect> appKitRect(Screens& screens, const Rect& quartzRect);

// The inverse: an AppKit rectangle in Quartz global coordinates, placed relative to the display
// whose AppKit frame holds most of it; none when it overlaps no display. Windows placed from
// AppKit frames (the chat panel) use it to find their position on the screen.
std::optional<Rect> quartzRect(Screens& screens, const Rect& appKitRect);

// The rectangle cut to the display containing the point; none when no display contains the
// point or less than 2 × 2 points are left.
std::optional<Rect> clampedQuartzRect(Screens& screens, const Rect& quartzRect, Point around);

// The rectangle cut to the display it overlaps most; none when it overlaps none or less than
// 2 × 2 points are left.
std::optional<Rect> clampedQuartzRect(Screens& screens, const Rect& quartzRect);

} // namespace zorvane::ScreenCoordinates
