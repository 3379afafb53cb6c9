#pragma once

#include "app/core/Geometry.h"
#include "app/platform/Screens.h"

#include <optional>

// Where the chat panel goes: beside the selection, on its screen, kept inside the visible frame.
// All frames are in AppKit global coordinates; the selection comes in Quartz coordinates.
namespace zorvane::ChatPanelPlacement {

inline constexpr Size compactSize {500, 220};
inline constexpr Size expandedSize {640, 560};
inline constexpr double selectionGap = 18;
inline constexpr double screenMargin = 12;
inline constexpr double animationDuration = 0.28;

// Keeps the frame 12 points inside the visible frame, shrinking it when the screen is too small;
// the upper and right bounds win when both cannot hold. Unchanged without a visible frame.
Rect clamp(const Rect& frame, const std::optional<Rect>& visibleFrame);

// A size × frame below the selection (above it when there is no room below), centred on it.
Rect positionedFrame(Screens& screens, Size size, const Rect& nearQuartzRect);

// The expanded frame grown from the current one: same horizontal centre, same top edge.
Rect expandedFrame(Screens& screens, const Rect& currentFrame);

} // namespace zorvane::ChatPanelPlacement
