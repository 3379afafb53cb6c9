#include "app/model/ChatPanelPlacement.h"
#include "fakes/FakeWindowSystem.h"

#include <gtest/gtest.h>

using namespace zorvane;
namespace Placement = zorvane::ChatPanelPlacement;

// AppKit frames (y up). The real panel on two monitors is walked in tests/ui; these are the edges.
TEST(ChatPanelPlacement, OpensBesideTheSelectionOnItsDisplayAndStaysTwelvePointsInsideTheVisibleFrame)
{
    fakes::FakeScreens screens; // 1440 × 900 with a 25-point menu bar, and a taller display to its right
    screens.addScreen(Rect(0, 0, 1440, 900)).visibleFrame = Rect(0, 0, 1440, 875);
    screens.addScreen(Rect(1440, -180, 1920, 1080));
    const struct {
        Rect selection, panel;
    } compact[] = {
        {Rect(600, 30, 200, 50), Rect(450, 582, 500, 220)},     // 18 points below, centred
        {Rect(0, 300, 100, 100), Rect(12, 262, 500, 220)},      // at the left edge
        {Rect(600, 0, 200, 5), Rect(450, 643, 500, 220)},       // under the menu bar
        {Rect(2000, 100, 200, 100), Rect(1850, 462, 500, 220)}, // on the taller display
        {Rect(-5000, -5000, 10, 10), Rect(470, 327.5, 500, 220)}, // on no display: the main one's centre
    };
    for (const auto& c : compact)
        EXPECT_EQ(Placement::positionedFrame(screens, Placement::compactSize, c.selection), c.panel) << c.selection.minX() << "," << c.selection.minY();

    fakes::FakeScreens small; // too small for the grown panel: it shrinks and the top bound wins
    small.addScreen(Rect(0, 0, 1000, 425)).visibleFrame = Rect(0, 0, 1000, 400);
    EXPECT_EQ(Placement::expandedFrame(small, Rect(250, 100, 500, 220)), Rect(180, 12, 640, 376));
    EXPECT_EQ(Placement::clamp(Rect(0, -50, 100, 100), Rect(0, 0, 200, 60)), Rect(12, 12, 100, 36));
    fakes::FakeScreens none;
    EXPECT_EQ(Placement::positionedFrame(none, Placement::compactSize, Rect(0, 0, 10, 10)), Rect(470, 340, 500, 220));
}
