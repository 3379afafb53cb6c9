#include "app/model/ChatPanelPlacement.h"

#include <gtest/gtest.h>

using namespace zorvane;
namespace Placement = zorvane::ChatPanelPlacement;

namespace {

class ListedScreens : public Screens {
public:
    std::vector<ScreenDescription> list;
    std::vector<ScreenDescription> screens() override { return list; }
};

// A 1440 × 900 main display with a 25-point menu bar, and optionally a 1920 × 1080 display to its right.
ListedScreens desk(bool withSecond = false)
{
    ListedScreens s;
    s.list.push_back({1, Rect(0, 0, 1440, 900), Rect(0, 0, 1440, 875), Rect(0, 0, 1440, 900)});
    if (withSecond) s.list.push_back({2, Rect(1440, 0, 1920, 1080), Rect(1440, 0, 1920, 1080), Rect(1440, -180, 1920, 1080)});
    return s;
}

} // namespace

TEST(ChatPanelPlacement, GoesBelowTheSelectionOrAboveItWhenThereIsNoRoomAndGrowsInPlace)
{
    auto screens = desk();
    // Near the top: 18 points below the selection, centred on it.
    EXPECT_EQ(Placement::positionedFrame(screens, Placement::compactSize, Rect(600, 30, 200, 50)), Rect(450, 582, 500, 220));
    // Near the bottom: 18 points above the selection's top edge instead.
    EXPECT_EQ(Placement::positionedFrame(screens, Placement::compactSize, Rect(600, 800, 200, 80)), Rect(450, 118, 500, 220));
    // Expanding keeps the horizontal centre and the bottom edge.
    EXPECT_EQ(Placement::expandedFrame(screens, Rect(450, 582, 500, 220)), Rect(380, 802 - 560, 640, 560));
}

TEST(ChatPanelPlacement, KeepsTwelvePointsInsideTheVisibleFrame)
{
    auto screens = desk();
    const Rect atLeftEdge = Placement::positionedFrame(screens, Placement::compactSize, Rect(0, 300, 100, 100));
    EXPECT_EQ(atLeftEdge.minX(), 12);
    const Rect atRightEdge = Placement::positionedFrame(screens, Placement::compactSize, Rect(1400, 300, 40, 40));
    EXPECT_EQ(atRightEdge.maxX(), 1440 - 12);
    // Under the menu bar the panel's top stays 12 points below the visible top.
    EXPECT_LE(Placement::clamp(Rect(100, 800, 500, 220), Rect(0, 0, 1440, 875)).maxY(), 875 - 12);
}

TEST(ChatPanelPlacement, ShrinksToASmallScreenAndTheUpperBoundWins)
{
    ListedScreens screens;
    screens.list.push_back({1, Rect(0, 0, 1000, 425), Rect(0, 0, 1000, 400), Rect(0, 0, 1000, 425)});
    const Rect expanded = Placement::expandedFrame(screens, Rect(250, 100, 500, 220));
    EXPECT_EQ(expanded.height(), 376);
    EXPECT_EQ(expanded.minY(), 12);
    EXPECT_EQ(expanded.maxY(), 400 - 12);
    EXPECT_EQ(expanded.midX(), 500); // same horizontal centre

    // A frame taller than the room: the top bound is applied last.
    EXPECT_EQ(Placement::clamp(Rect(0, -50, 100, 100), Rect(0, 0, 200, 60)), Rect(12, 12, 100, 36));
    EXPECT_EQ(Placement::clamp(Rect(5, 5, 10, 10), std::nullopt), Rect(5, 5, 10, 10));
}

TEST(ChatPanelPlacement, FollowsTheSelectionToASecondDisplayOrCentresOnTheMainOne)
{
    auto screens = desk(true);
    const Rect frame = Placement::positionedFrame(screens, Placement::compactSize, Rect(2000, 100, 200, 100));
    const Rect second(1440, 0, 1920, 1080);
    EXPECT_GE(frame.minX(), second.minX() + 12);
    EXPECT_LE(frame.maxX(), second.maxX() - 12);
    EXPECT_EQ(frame.midX(), 2100);
    // A selection on no screen: centred on the main one.
    EXPECT_EQ(Placement::positionedFrame(screens, Placement::compactSize, Rect(-5000, -5000, 10, 10)), Rect(470, 327.5, 500, 220));
    ListedScreens none;
    EXPECT_EQ(Placement::positionedFrame(none, Placement::compactSize, Rect(0, 0, 10, 10)), Rect(470, 340, 500, 220));
}
