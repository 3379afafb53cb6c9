#include "app/selection/AccessibilitySelectionHeuristics.h"

#include "app/core/Text.h"

#include <algorithm>
#include <array>
#include <string>

namespace zorvane::AccessibilitySelectionHeuristics {

namespace {

constexpr int structuralScore = -8000;

int baseScore(const std::string& role)
{
    const auto has = [&](std::string_view part) { return role.find(part) != std::string::npos; };
    if (has("image")) return 5000;
    if (has("link")) return 4000;
    if (has("button")) return 3600;
    if (has("statictext") || has("textarea") || has("textfield")) return 3200;
    if (has("article")) return 2100;
    // A split group is a group by name but a structural container by nature.
    if (has("splitgroup")) return structuralScore;
    if (has("group")) return 2100;
    if (isStructural(role)) return structuralScore;
    return 1600;
}

int sizePenalty(double ratio)
{
    if (ratio >= 0.72) return -7000;
    if (ratio >= 0.45) return -3000;
    if (ratio >= 0.25) return -1200;
    return 0;
}

} // namespace

bool isStructural(std::string_view role)
{
    static constexpr std::array<std::string_view, 6> containers {
        "window", "application", "webarea", "scrollarea", "toolbar", "splitgroup"};
    return std::any_of(containers.begin(), containers.end(), [&](std::string_view c) { return role.find(c) != std::string_view::npos; });
}

int score(std::string_view role, int ancestorDepth, const Rect& frame, const Rect& displayBounds)
{
    const std::string lowered = Text::lowercased(role);
    const double displayArea = std::max(displayBounds.area(), 1.0);
    const double ratio = frame.area() / displayArea;
    const int depthBonus = std::max(0, 700 - 180 * ancestorDepth);
    return baseScore(lowered) + depthBonus + sizePenalty(ratio);
}

} // namespace zorvane::AccessibilitySelectionHeuristics
