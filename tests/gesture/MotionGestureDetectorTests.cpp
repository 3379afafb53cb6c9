#include "app/gesture/MotionGestureDetector.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zorvane;

namespace {

struct Step {
    double x;
    double y;
    double time;
};

// Feeds the steps in order; answers which of them the detector called a shake (by index).
std::vector<std::size_t> shakesIn(MotionGestureDetector& detector, const std::vector<Step>& steps)
{
    std::vector<std::size_t> shakes;
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (detector.record(Point {steps[i].x, steps[i].y}, steps[i].time)) shakes.push_back(i);
    return shakes;
}

// x alternating between 0 and `amplitude`, one sample every `interval` seconds, y fixed.
std::vector<Step> sideToSide(double amplitude, double interval, std::size_t count = 6, double start = 0)
{
    std::vector<Step> steps;
    for (std::size_t i = 0; i < count; ++i) steps.push_back({i % 2 ? amplitude : 0.0, 300, start + interval * static_cast<double>(i)});
    return steps;
}

MotionGestureDetector detectorWithThreshold(double threshold)
{
    MotionGestureDetector d;
    d.threshold = threshold;
    return d;
}

} // namespace

TEST(MotionGestureDetector, ThreeFastReversalsAreAShakeAndLeaveNothingBehind)
{
    // Five strokes of 150 points at 3000 points per second.
    auto detector = detectorWithThreshold(2200);
    EXPECT_EQ(shakesIn(detector, sideToSide(150, 0.05)), (std::vector<std::size_t> {5}));
    EXPECT_TRUE(detector.samples().empty());

    // Nothing of the first shake counts towards the next one: a single further sample is no shake.
    EXPECT_FALSE(detector.record(Point {0, 300}, 0.30));
    EXPECT_EQ(detector.samples().size(), 1u);
}

TEST(MotionGestureDetector, StrokesBelowTheThresholdSpeedAreNotAShake)
{
    // 100-point strokes every 0.05 s: 2000 points per second.
    auto strict = detectorWithThreshold(2200);
    EXPECT_TRUE(shakesIn(strict, sideToSide(100, 0.05)).empty());
    EXPECT_EQ(strict.samples().size(), 6u); // kept for the next movement

    auto sensitive = detectorWithThreshold(1500);
    EXPECT_EQ(shakesIn(sensitive, sideToSide(100, 0.05)), (std::vector<std::size_t> {5}));

    // The speed is compared as "at least": 100 points in 0.0625 s is exactly 1600 points per second.
    auto atSpeed = detectorWithThreshold(1600);
    EXPECT_EQ(shakesIn(atSpeed, sideToSide(100, 0.0625)), (std::vector<std::size_t> {5}));
    auto justAbove = detectorWithThreshold(1600.5);
    EXPECT_TRUE(shakesIn(justAbove, sideToSide(100, 0.0625)).empty());
}

TEST(MotionGestureDetector, FewerThanSixSamplesNeverMakeAShake)
{
    auto detector = detectorWithThreshold(100);
    // Enormous, instantaneous reversals, but only five samples.
    EXPECT_TRUE(shakesIn(detector, sideToSide(5000, 0, 5)).empty());
    EXPECT_TRUE(detector.record(Point {5000, 300}, 0));
}

TEST(MotionGestureDetector, OnlyTheLastSixtyFiveHundredthsOfASecondCount)
{
    // The same six positions spread over one second: the first two have aged out when the last arrives.
    auto slow = detectorWithThreshold(500);
    EXPECT_TRUE(shakesIn(slow, sideToSide(150, 0.2)).empty());
    EXPECT_EQ(slow.samples().size(), 4u);

    // A sample exactly 0.65 seconds old still counts.
    auto edge = detectorWithThreshold(1000);
    std::vector<Step> steps = sideToSide(150, 0.13);
    steps.back().time = 0.65;
    EXPECT_EQ(shakesIn(edge, steps), (std::vector<std::size_t> {5}));

    // Old movements do not help a later, partial one.
    auto stale = detectorWithThreshold(2200);
    std::vector<Step> late = sideToSide(150, 0.05, 3);
    for (const Step& s : sideToSide(150, 0.05, 3, 2.0)) late.push_back(s);
    EXPECT_TRUE(shakesIn(stale, late).empty());
    EXPECT_EQ(stale.samples().size(), 3u);
}

TEST(MotionGestureDetector, JitterUnderEighteenPointsIsNotAReversal)
{
    // One fast 400-point sweep, then fast back-and-forth jitter at its end.
    const auto sweepThenJitter = [](double jitter) {
        std::vector<Step> steps {{0, 300, 0}, {400, 300, 0.02}};
        for (int i = 0; i < 5; ++i) steps.push_back({i % 2 ? 400 : 400 - jitter, 300, 0.02 + 0.005 * (i + 1)});
        return steps;
    };
    auto detector = detectorWithThreshold(2200);
    EXPECT_TRUE(shakesIn(detector, sweepThenJitter(17.9)).empty());

    // At 18 points each wiggle is a stroke: five reversals, 490 points of travel.
    auto counting = detectorWithThreshold(2200);
    EXPECT_EQ(shakesIn(counting, sweepThenJitter(18)), (std::vector<std::size_t> {6}));
}

TEST(MotionGestureDetector, AShakeNeedsAHundredPointsOfExtent)
{
    // Twenty fast reversals of 99 points: plenty of travel, speed and reversals, but too narrow.
    auto narrow = detectorWithThreshold(2200);
    EXPECT_TRUE(shakesIn(narrow, sideToSide(99, 0.01, 20)).empty());

    auto wide = detectorWithThreshold(2200);
    EXPECT_EQ(shakesIn(wide, sideToSide(100, 0.01, 6)), (std::vector<std::size_t> {5}));

    // 99 points on both axes: still too narrow, whichever axis is taken.
    auto square = detectorWithThreshold(2200);
    std::vector<Step> corners;
    for (int i = 0; i < 20; ++i) corners.push_back({i % 2 ? 99.0 : 0.0, i % 4 < 2 ? 0.0 : 99.0, 0.01 * i});
    EXPECT_TRUE(shakesIn(square, corners).empty());
}

TEST(MotionGestureDetector, ShakesAlongEitherAxisWithTiesGoingToHorizontal)
{
    auto vertical = detectorWithThreshold(2200);
    std::vector<Step> upDown;
    for (const Step& s : sideToSide(150, 0.05)) upDown.push_back({500, s.x, s.time});
    EXPECT_EQ(shakesIn(vertical, upDown), (std::vector<std::size_t> {5}));

    // A zigzag drifting downwards as far as it swings sideways: read horizontally, it reverses
    // five times; read vertically it would never reverse.
    auto diagonal = detectorWithThreshold(2200);
    std::vector<Step> zigzag;
    for (int i = 0; i < 6; ++i) zigzag.push_back({i % 2 ? 150.0 : 0.0, 30.0 * i, 0.05 * i});
    EXPECT_EQ(shakesIn(diagonal, zigzag), (std::vector<std::size_t> {5}));

    // Mostly vertical drift with a small side-to-side wobble is read vertically: no reversals.
    auto drift = detectorWithThreshold(2200);
    std::vector<Step> wobble;
    for (int i = 0; i < 6; ++i) wobble.push_back({i % 2 ? 150.0 : 0.0, 40.0 * i, 0.05 * i});
    EXPECT_TRUE(shakesIn(drift, wobble).empty());
}

TEST(MotionGestureDetector, SimultaneousSamplesCountAsOneMillisecondApart)
{
    // All six at the same instant: each 150-point stroke runs at 150 000 points per second.
    auto fastEnough = detectorWithThreshold(150000);
    EXPECT_EQ(shakesIn(fastEnough, sideToSide(150, 0)), (std::vector<std::size_t> {5}));

    auto tooStrict = detectorWithThreshold(150001);
    EXPECT_TRUE(shakesIn(tooStrict, sideToSide(150, 0)).empty());
}
