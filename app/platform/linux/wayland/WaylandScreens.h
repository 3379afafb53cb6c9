#pragma once

#include "app/platform/Screens.h"

#include <map>
#include <string>

class QScreen;

namespace zorvane {

// The Screens port on Wayland, from Qt's screens. The compositor lays its outputs out in logical
// points, which is what Qt reports and what the core calls points: Quartz bounds are a screen's
// geometry relative to the primary screen's top-left corner, with no conversion. Wayland tells a
// client nothing about panels and docks, so the visible frame is what Qt reports as available.
// Main thread only.
class WaylandScreens final : public Screens {
public:
    std::vector<ScreenDescription> screens() override;

    // The Qt screen showing the most of a Quartz rectangle; null when none does.
    static QScreen* qtScreenFor(const Rect& quartzBounds);
    // A point of Qt's global space in Quartz points, and back.
    static Point quartzPoint(double qtX, double qtY);
    static Rect quartzBounds(const QScreen& screen);

private:
    // A number per output name, kept while the program runs, so a screen keeps its number.
    std::map<std::string, std::uint32_t> numbers_;
};

} // namespace zorvane
