#include "app/selection/ScreenCoordinates.h"
#include "fakes/FakeScreens.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using fakes::FakeScreens;
namespace SC = ScreenCoordinates;

TEST(ScreenCoordinates, APointBelongsToTheDisplayItIsOnAsTheScreensAreNow)
{
    FakeScreens screens;
    EXPECT_EQ(SC::quartzBounds(screens, {0, 0}), std::nullopt);
    EXPECT_EQ(SC::appKitRect(screens, Rect(0, 0, 100, 100)), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(0, 0, 100, 100)), std::nullopt);

    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1439.5, 899.5}), Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1440, 100}), std::nullopt); // upper edges are outside
    EXPECT_EQ(SC::quartzBounds(screens, {100, 900}), std::nullopt);
    screens.addScreen(Rect(1440, 0, 1920, 1080));
    EXPECT_EQ(SC::quartzBounds(screens, {1440, 100}), Rect(1440, 0, 1920, 1080));

    // A screen without a display number is not used.
    screens.removeAll();
    screens.addScreenWithoutDisplayID(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {100, 100}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(10, 10, 100, 100), Point {20, 20}), std::nullopt);
}

TEST(ScreenCoordinates, AppKitRectanglesArePlacedByTheDisplayHoldingMostOfThem)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::appKitRect(screens, Rect(100, 50, 200, 80)), Rect(100, 770, 200, 80));
    // A taller screen to the right, its top 180 points above the primary's top.
    screens.addScreen(Rect(1440, -180, 1920, 1080));
    EXPECT_EQ(SC::appKitRect(screens, Rect(1500, -100, 300, 200)), Rect(1500, 800, 300, 200));
    // Mostly on the right: placed by the right display, full size kept.
    EXPECT_EQ(SC::appKitRect(screens, Rect(1400, 100, 400, 100)), Rect(1400, 700, 400, 100));
    EXPECT_EQ(SC::appKitRect(screens, Rect(-500, -500, 100, 100)), std::nullopt);

    // The way back lands where the rectangle was, on either display (a panel placed from AppKit
    // frames must appear beside what was selected).
    for (const Rect& quartz : {Rect(100, 50, 200, 80), Rect(1500, -100, 300, 200), Rect(1400, 100, 400, 100)})
        EXPECT_EQ(SC::quartzRect(screens, *SC::appKitRect(screens, quartz)), quartz);
    EXPECT_EQ(SC::quartzRect(screens, Rect(-500, 5000, 100, 100)), std::nullopt);
}

TEST(ScreenCoordinates, ClampingCutsToOneDisplayAndDropsSlivers)
{
    FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    screens.addScreen(Rect(1440, 0, 1440, 900));

    // Around a point: that point's display decides, even when most of the rectangle is elsewhere.
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1300, 800, 400, 400), Point {1350, 850}), Rect(1300, 800, 140, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1400, 100, 400, 100), Point {1420, 150}), Rect(1400, 100, 40, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 100, 100, 100), Point {-5, 100}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1438.5, 100, 50, 50), Point {1439, 120}), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1438, 100, 50, 50), Point {1439, 120}), Rect(1438, 100, 2, 50));

    // By overlap; on a tie the earlier display wins.
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1400, 100, 400, 100)), Rect(1440, 100, 360, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(1340, 100, 200, 100)), Rect(1340, 100, 100, 100));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 898.5, 50, 50)), std::nullopt);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(100, 898, 50, 50)), Rect(100, 898, 50, 2));
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(3000, 100, 200, 100)), std::nullopt);
}

} // namespace
} // namespace zorvane
