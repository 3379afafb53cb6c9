#pragma once

#include "app/core/Geometry.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

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

// Whether the keyboard stops at an element of this platform role: the things a person picks
// (controls, pictures, links, pieces of text, cells, headings), not the containers around them.
// The keyboard never stops inside such an element; Page Down goes in.
bool isKeyboardStop(std::string_view role);

enum class Direction { left, right, up, down };

// Of the candidate frames, the one an arrow key moves to from `from`: it must lie beyond
// `from` in that direction and neither hold it nor lie inside it; the nearest wins, a gap across
// the direction counting twice a gap along it. None when nothing lies that way.
std::optional<std::size_t> nearestInDirection(const Rect& from, const std::vector<Rect>& candidates, Direction direction);

} // namespace zorvane::AccessibilitySelectionHeuristics
