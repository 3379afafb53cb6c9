#include "app/selection/ScreenCoordinates.h"
#include "fakes/FakeScreens.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using fakes::FakeScreens;
namespace SC = ScreenCoordinates;

TEST(RectangleRules, EdgesTouchingAndNullFollowTheWindowSystem)
{
    const Rect display(0, 0, 1440, 900);
    EXPECT_TRUE(display.contains({0, 0}));
    EXPECT_FALSE(display.contains({1440, 10}));
    EXPECT_FALSE(display.contains({10, 900}));

    const Rect touching(1440, 0, 100, 100);
    EXPECT_TRUE(display.intersection(touching).isNull());
    EXPECT_EQ(display.intersection(touching).area(), 0);
    EXPECT_NE(display.intersection(touching), Rect(1440, 0, 0, 100));
    EXPECT_EQ(Rect::infinite().area(), 0);
    EXPECT_EQ(Rect(0, 0, 3, 4).area(), 12);
}

TEST(ScreenCoordinatesDisplayOfPoint, UpperEdgesBelongToTheNextDisplayOrToNone)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1439.5, 899.5}), Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1440, 100}), std::nullopt);
    EXPECT_EQ(SC::quartzBounds(screens, {100, 900}), std::nullopt);

    screens.addScreen(Rect(1440, 0, 1920, 1080));
    EXPECT_EQ(SC::quartzBounds(screens, {1440, 100}), Rect(1440, 0, 1920, 1080));
}

TEST(ScreenCoordinatesDisplayOfPoint, ScreensWithoutDisplayNumberAreNotUsed)
{
    FakeScreens screens;
    screens.addScreenWithoutDisplayID(Rect(0, 0, 1440, 900));
    screens.addScreen(Rect(1440, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {100, 100}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(10, 10, 100, 100)), std::nullopt);
    EXPECT_EQ(SC::currentDisplays(screens).size(), 1u);
}

TEST(ScreenCoordinatesDisplayOfPoint, ArrangementChangesCountFromTheNextCall)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_TRUE(SC::quartzBounds(screens, {2000, 100}) == std::nullopt);
    screens.addScreen(Rect(1440, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {2000, 100}), Rect(1440, 0, 1440, 900));
    screens.removeAll();
    EXPECT_EQ(SC::quartzBounds(screens, {100, 100}), std::nullopt);
}

TEST(ScreenCoordinatesBestDisplay, MostOverlapWinsAndTiesGoToTheEarlierDisplay)
{
    const std::vector<DisplayGeometry> displays {
        {Rect(0, 0, 1440, 900), Rect(0, 0, 1440, 900)},
        {Rect(1440, 0, 1440, 900), Rect(1440, 0, 1440, 900)},
    };
    EXPECT_EQ(SC::bestDisplay(Rect(1340, 100, 200, 100), displays), displays[0]);
    EXPECT_EQ(SC::bestDisplay(Rect(1400, 100, 200, 100), displays), displays[1]);
    // Touching the second display along its edge gives it no area at all.
    EXPECT_EQ(SC::bestDisplay(Rect(1340, 100, 100, 100), displays), displays[0]);
    EXPECT_EQ(SC::bestDisplay(Rect(2880, 0, 100, 100), displays), std::nullopt);
    EXPECT_EQ(SC::bestDisplay(Rect(0, 0, 10, 10), {}), std::nullopt);
}

TEST(ScreenCoordinatesAppKit, ConvertsAgainstTheDisplayHoldingMostOfTheRectangle)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::appKitRect(screens, Rect(100, 50, 200, 80)), Rect(100, 770, 200, 80));

    // A taller screen to the right, its top 180 points above the primary's top.
    screens.addScreen(Rect(1440, -180, 1920, 1080));
    const auto right = SC::appKitRect(screens, Rect(1500, -100, 300, 200));
    ASSERT_TRUE(right);
    EXPECT_EQ(*right, Rect(1500, 800, 300, 200));

    // Spanning both, mostly on the right: placed by the right display, full size kept.
    const auto spanning = SC::appKitRect(screens, Rect(1400, 100, 400, 100));
    ASSERT_TRUE(spanning);
    EXPECT_EQ(*spanning, Rect(1400, 700, 400, 100));

    EXPECT_EQ(SC::appKitRect(screens, Rect(-500, -500, 100, 100)), std::nullopt);
}

TEST(ScreenCoordinatesClamp, AroundAPointCutsToThatPointsDisplayOnly)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    screens.addScreen(Rect(1440, 0, 1440, 900));

    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1300, 800, 400, 400), Point {1350, 850}), Rect(1300, 800, 140, 100));
    // The point decides, even when most of the rectangle lies on the other display.
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1400, 100, 400, 100), Point {1420, 150}), Rect(1400, 100, 40, 100));
    // A point on no display gives nothing, though the rectangle overlaps one.
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 100, 100, 100), Point {-5, 100}), std::nullopt);

    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(-260, -140, 720, 480), Point {100, 100}), Rect(0, 0, 460, 340));
}

TEST(ScreenCoordinatesClamp, NothingThinnerThanTwoPointsIsKept)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1438.5, 100, 50, 50), Point {1439, 120}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1438, 100, 50, 50), Point {1439, 120}), Rect(1438, 100, 2, 50));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 898.5, 50, 50)), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 898, 50, 50)), Rect(100, 898, 50, 2));
}

TEST(ScreenCoordinatesClamp, ByOverlapCutsToTheDisplayHoldingMost)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    screens.addScreen(Rect(1440, 0, 1440, 900));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1400, 100, 400, 100)), Rect(1440, 100, 360, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1340, 100, 200, 100)), Rect(1340, 100, 100, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(3000, 100, 200, 100)), std::nullopt);
}

TEST(ScreenCoordinatesWithoutScreens, EverythingYieldsNone)
{
    FakeScreens screens;
    EXPECT_EQ(SC::quartzBounds(screens, {0, 0}), std::nullopt);
    EXPECT_EQ(SC::appKitRect(screens, Rect(0, 0, 100, 100)), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(0, 0, 100, 100), Point {1, 1}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(0, 0, 100, 100)), std::nullopt);
}

} // namespace
} // namespace zorvane
