#pragma once

#include "app/platform/Screens.h"

#include <vector>

namespace zorvane::fakes {

// Screens the test describes, in the order it adds them; the first added is the primary screen.
class FakeScreens : public Screens {
public:
    std::vector<ScreenDescription> screens() override { return described; }

    // A screen with the next display number whose Quartz bounds are given; its AppKit frame is
    // derived by flipping against the primary screen's height, and its visible frame is the
    // whole frame unless set.
    ScreenDescription& addScreen(const Rect& quartzBounds);
    // A screen the window system gives no display number.
    ScreenDescription& addScreenWithoutDisplayID(const Rect& quartzBounds);
    void removeAll();

    std::vector<ScreenDescription> described;
};

} // namespace zorvane::fakes
