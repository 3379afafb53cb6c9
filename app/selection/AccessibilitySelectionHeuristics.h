#pragma once

#include "app/core/Geometry.h"

#include <string_view>

// How plausibly a person pointing at the screen means an element: by its role, how far it is
// from the element under the pointer, and how much of the display it covers. Candidates scoring
// 0 or less are never chosen.
namespace zorvane::AccessibilitySelectionHeuristics {

// `role` is the platform role ("AXButton"), matched case-insensitively; `ancestorDepth` is 0 for
// the element under the pointer, 1 for its parent and so on.
int score(std::string_view role, int ancestorDepth, const Rect& frame, const Rect& displayBounds);

// Windows, applications, web areas, scroll areas, toolbars and split groups: containers nobody
// means to select. `role` must already be lower-cased.
bool isStructural(std::string_view role);

} // namespace zorvane::AccessibilitySelectionHeuristics
