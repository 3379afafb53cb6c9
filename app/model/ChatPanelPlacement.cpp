#include "app/model/ChatPanelPlacement.h"

#include "app/selection/ScreenCoordinates.h"

#include <algorithm>

namespace zorvane::ChatPanelPlacement {
namespace {

// The first screen of the list stands for the main screen: it is the one with the menu bar.
std::optional<ScreenDescription> mainScreen(const std::vector<ScreenDescription>& all)
{
    if (all.empty()) return std::nullopt;
    return all.front();
}

} // namespace

Rect clamp(const Rect& frame, const std::optional<Rect>& visibleFrame)
{
    if (!visibleFrame) return frame;
    const Rect& v = *visibleFrame;
    const double width = std::min(frame.width(), v.width() - 2 * screenMargin);
    const double height = std::min(frame.height(), v.height() - 2 * screenMargin);
    double x = std::max(frame.minX(), v.minX() + screenMargin);
    x = std::min(x, v.maxX() - width - screenMargin);
    double y = std::max(frame.minY(), v.minY() + screenMargin);
    y = std::min(y, v.maxY() - height - screenMargin);
    return Rect(x, y, width, height);
}

Rect positionedFrame(Screens& screens, Size size, const Rect& nearQuartzRect)
{
    const auto all = screens.screens();
    const auto converted = ScreenCoordinates::appKitRect(screens, nearQuartzRect);
    if (!converted) {
        const auto main = mainScreen(all);
        const Rect area = main ? main->visibleFrame : Rect(0, 0, 1440, 900);
        return Rect(area.midX() - size.width / 2, area.midY() - size.height / 2, size.width, size.height);
    }
    const Rect& a = *converted;
    std::optional<ScreenDescription> chosen;
    for (const auto& screen : all) {
        if (screen.appKitFrame.intersects(a)) {
            chosen = screen;
            break;
        }
    }
    if (!chosen) chosen = mainScreen(all);

    const double x = a.midX() - size.width / 2;
    double y = a.minY() - size.height - selectionGap;
    if (chosen && y < chosen->visibleFrame.minY()) y = a.maxY() + selectionGap;
    return clamp(Rect(x, y, size.width, size.height), chosen ? std::optional<Rect>(chosen->visibleFrame) : std::nullopt);
}

Rect expandedFrame(Screens& screens, const Rect& currentFrame)
{
    const auto all = screens.screens();
    // The panel's screen is the one holding most of it.
    std::optional<ScreenDescription> current;
    double best = 0;
    for (const auto& screen : all) {
        const double area = screen.appKitFrame.intersection(currentFrame).area();
        if (area > best) {
            best = area;
            current = screen;
        }
    }
    if (!current) current = mainScreen(all);
    const Rect grown(currentFrame.midX() - expandedSize.width / 2, currentFrame.maxY() - expandedSize.height,
                     expandedSize.width, expandedSize.height);
    return clamp(grown, current ? std::optional<Rect>(current->visibleFrame) : std::nullopt);
}

} // namespace zorvane::ChatPanelPlacement
