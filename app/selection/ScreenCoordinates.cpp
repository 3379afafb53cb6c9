#include "app/selection/ScreenCoordinates.h"

namespace zorvane::ScreenCoordinates {

namespace {

std::optional<Rect> clamped(const Rect& rect, const Rect& bounds)
{
    const Rect cut = rect.intersection(bounds);
    if (cut.isNull() || cut.width() < 2 || cut.height() < 2) return std::nullopt;
    return cut;
}

} // namespace

std::vector<DisplayGeometry> currentDisplays(Screens& screens)
{
    std::vector<DisplayGeometry> displays;
    for (const ScreenDescription& screen : screens.screens()) {
        if (!screen.displayID) continue;
        displays.push_back(DisplayGeometry {screen.appKitFrame, screen.quartzBounds});
    }
    return displays;
}

std::optional<Rect> quartzBounds(Screens& screens, Point containingQuartzPoint)
{
    for (const DisplayGeometry& display : currentDisplays(screens))
        if (display.quartzBounds.contains(containingQuartzPoint)) return display.quartzBounds;
    return std::nullopt;
}

std::optional<DisplayGeometry> bestDisplay(const Rect& quartzRect, const std::vector<DisplayGeometry>& displays)
{
    std::optional<DisplayGeometry> best;
    double bestArea = 0;
    for (const DisplayGeometry& display : displays) {
        const double area = display.quartzBounds.intersection(quartzRect).area();
        if (area > bestArea) {
            best = display;
            bestArea = area;
        }
    }
    return best;
}

std::optional<Rect> appKitRect(Screens& screens, const Rect& quartzRect)
{
    const auto display = bestDisplay(quartzRect, currentDisplays(screens));
    if (!display) return std::nullopt;
    const Rect& frame = display->appKitFrame;
    const Rect& bounds = display->quartzBounds;
    const Rect r = quartzRect.standardized();
    return Rect(frame.minX() + (r.minX() - bounds.minX()), frame.maxY() - (r.minY() - bounds.minY()) - r.height(), r.width(),
        r.height());
}

std::optional<Rect> quartzRect(Screens& screens, const Rect& appKitRect)
{
    std::optional<DisplayGeometry> display;
    double bestArea = 0;
    for (const DisplayGeometry& candidate : currentDisplays(screens)) {
        const double area = candidate.appKitFrame.intersection(appKitRect).area();
        if (area > bestArea) {
            display = candidate;
            bestArea = area;
        }
    }
    if (!display) return std::nullopt;
    const Rect& frame = display->appKitFrame;
    const Rect& bounds = display->quartzBounds;
    const Rect r = appKitRect.standardized();
    return Rect(bounds.minX() + (r.minX() - frame.minX()), bounds.minY() + (frame.maxY() - r.maxY()), r.width(), r.height());
}

std::optional<Rect> clampedQuartzRect(Screens& screens, const Rect& quartzRect, Point around)
{
    const auto bounds = quartzBounds(screens, around);
    if (!bounds) return std::nullopt;
    return clamped(quartzRect, *bounds);
}

std::optional<Rect> clampedQuartzRect(Screens& screens, const Rect& quartzRect)
{
    const auto display = bestDisplay(quartzRect, currentDisplays(screens));
    if (!display) return std::nullopt;
    return clamped(quartzRect, display->quartzBounds);
}

} // namespace zorvane::ScreenCoordinates
