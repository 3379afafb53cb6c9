#include "fakes/FakeScreens.h"

namespace zorvane::fakes {

ScreenDescription& FakeScreens::addScreen(const Rect& quartzBounds)
{
    const double primaryHeight = described.empty() ? quartzBounds.height() : described.front().quartzBounds.height();
    ScreenDescription screen;
    screen.displayID = static_cast<std::uint32_t>(described.size() + 1);
    screen.quartzBounds = quartzBounds;
    screen.appKitFrame = Rect(quartzBounds.minX(), primaryHeight - quartzBounds.maxY(), quartzBounds.width(), quartzBounds.height());
    screen.visibleFrame = screen.appKitFrame;
    described.push_back(screen);
    return described.back();
}

ScreenDescription& FakeScreens::addScreenWithoutDisplayID(const Rect& quartzBounds)
{
    ScreenDescription& screen = addScreen(quartzBounds);
    screen.displayID.reset();
    return screen;
}

void FakeScreens::removeAll()
{
    described.clear();
}

} // namespace zorvane::fakes
