#include "app/selection/AccessibilitySelectionHeuristics.h"

#include "app/core/Text.h"

#include <algorithm>
#include <array>
#include <cmath>
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

bool isKeyboardStop(std::string_view role)
{
    static constexpr std::array<std::string_view, 16> stops {"AXButton", "AXImage", "AXLink", "AXStaticText", "AXTextField",
        "AXTextArea", "AXCheckBox", "AXRadioButton", "AXComboBox", "AXPopUpButton", "AXMenuButton", "AXSlider", "AXMenuItem",
        "AXCell", "AXHeading", "AXProgressIndicator"};
    return std::find(stops.begin(), stops.end(), role) != stops.end();
}

std::optional<std::size_t> nearestInDirection(const Rect& from, const std::vector<Rect>& candidates, Direction direction)
{
    const Rect f = from.standardized();
    std::optional<std::size_t> best;
    double bestDistance = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Rect c = candidates[i].standardized();
        const bool holds = c.minX() <= f.minX() && c.minY() <= f.minY() && c.maxX() >= f.maxX() && c.maxY() >= f.maxY();
        const bool inside = f.minX() <= c.minX() && f.minY() <= c.minY() && f.maxX() >= c.maxX() && f.maxY() >= c.maxY();
        if (holds || inside) continue;
        // Along: how far the candidate lies beyond `from`'s leading edge (0 when they overlap);
        // beyond: whether its centre lies past `from`'s centre that way at all.
        double along = 0;
        bool beyond = false;
        switch (direction) {
        case Direction::left:
            along = f.minX() - c.maxX();
            beyond = c.midX() < f.midX() && c.minX() < f.minX();
            break;
        case Direction::right:
            along = c.minX() - f.maxX();
            beyond = c.midX() > f.midX() && c.maxX() > f.maxX();
            break;
        case Direction::up:
            along = f.minY() - c.maxY();
            beyond = c.midY() < f.midY() && c.minY() < f.minY();
            break;
        case Direction::down:
            along = c.minY() - f.maxY();
            beyond = c.midY() > f.midY() && c.maxY() > f.maxY();
            break;
        }
        if (!beyond) continue;
        const bool horizontal = direction == Direction::left || direction == Direction::right;
        const double across = horizontal ? std::max({0.0, f.minY() - c.maxY(), c.minY() - f.maxY()})
                                         : std::max({0.0, f.minX() - c.maxX(), c.minX() - f.maxX()});
        // Centres out of line break ties between candidates at the same gaps.
        const double offset = horizontal ? std::fabs(c.midY() - f.midY()) : std::fabs(c.midX() - f.midX());
        const double distance = std::max(along, 0.0) + 2 * across + 0.01 * offset;
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
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
