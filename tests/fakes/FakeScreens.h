#pragma once

#include "app/platform/Screens.h"

#include <vector>

namespace zorvane::fakes {

// Screens the test describes, in the order added; the first is the primary screen.
class FakeScreens : public Screens {
public:
    std::vector<ScreenDescription> screens() override { return described; }

    // The next display number (or none), the AppKit frame flipped against the primary's height, all of it visible.
    ScreenDescription& addScreen(const Rect& quartz, bool withDisplayID = true)
    {
        const double primaryHeight = described.empty() ? quartz.height() : described.front().quartzBounds.height();
        const Rect appKit(quartz.minX(), primaryHeight - quartz.maxY(), quartz.width(), quartz.height());
        const auto displayID = withDisplayID ? std::optional(static_cast<std::uint32_t>(described.size() + 1)) : std::nullopt;
        return described.emplace_back(ScreenDescription {displayID, appKit, appKit, quartz});
    }

    std::vector<ScreenDescription> described;
};

} // namespace zorvane::fakes
