#include "app/gesture/MotionGestureDetector.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zorvane;

namespace {

struct Step {
    double x, y, time;
};
using Steps = std::vector<Step>;

// x alternating between 0 and `amplitude` every `interval` seconds, y drifting `drift` points a sample.
Steps sideToSide(double amplitude, double interval, int count = 6, double start = 0, double drift = 0)
{
    Steps steps;
    for (int i = 0; i < count; ++i) steps.push_back({i % 2 ? amplitude : 0.0, 300 + drift * i, start + interval * i});
    return steps;
}

} // namespace

TEST(MotionGestureDetector, TellsAShakeFromOtherMovements)
{
    Steps stale = sideToSide(150, 0.05, 3);
    for (const Step& s : sideToSide(150, 0.05, 3, 2.0)) stale.push_back(s);
    Steps edge = sideToSide(150, 0.13);
    edge.back().time = 0.65;
    // One fast 400-point sweep, then fast back-and-forth jitter at its end.
    const auto sweepThenJitter = [](double jitter) {
        Steps steps {{0, 300, 0}, {400, 300, 0.02}};
        for (int i = 0; i < 5; ++i) steps.push_back({i % 2 ? 400 : 400 - jitter, 300, 0.02 + 0.005 * (i + 1)});
        return steps;
    };
    Steps upDown;
    for (const Step& s : sideToSide(150, 0.05)) upDown.push_back({500, s.x, s.time});

    const struct {
        const char* what;
        double threshold;
        Steps steps;
        std::vector<std::size_t> shakes; // indices of the samples that complete a shake
    } cases[] = {
        {"five 150-point strokes at 3000 points/s", 2200, sideToSide(150, 0.05), {5}},
        {"a shake leaves nothing towards the next one", 2200, sideToSide(150, 0.05, 7), {5}},
        {"2000 points/s is too slow for 2200", 2200, sideToSide(100, 0.05), {}},
        {"2000 points/s is enough for 1500", 1500, sideToSide(100, 0.05), {5}},
        {"exactly the threshold speed counts", 1600, sideToSide(100, 0.0625), {5}},
        {"just under the threshold speed", 1600.5, sideToSide(100, 0.0625), {}},
        {"spread over a second, the first samples age out", 500, sideToSide(150, 0.2), {}},
        {"a sample exactly 0.65 s old still counts", 1000, edge, {5}},
        {"old movements do not help a later partial one", 2200, stale, {}},
        {"jitter under 18 points is no reversal", 2200, sweepThenJitter(17.9), {}},
        {"18-point wiggles are strokes", 2200, sweepThenJitter(18), {6}},
        {"99 points wide is too narrow", 2200, sideToSide(99, 0.01, 20), {}},
        {"100 points wide is enough", 2200, sideToSide(100, 0.01), {5}},
        {"up and down", 2200, upDown, {5}},
        {"a tie between the axes is read horizontally", 2200, sideToSide(150, 0.05, 6, 0, 30), {5}},
        {"mostly vertical drift is read vertically", 2200, sideToSide(150, 0.05, 6, 0, 40), {}},
        // Simultaneous samples count as one millisecond apart: 150 000 points per second.
        {"simultaneous samples at their speed", 150000, sideToSide(150, 0), {5}},
        {"simultaneous samples are not infinitely fast", 150001, sideToSide(150, 0), {}},
    };
    for (const auto& c : cases) {
        MotionGestureDetector detector;
        detector.threshold = c.threshold;
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < c.steps.size(); ++i)
            if (detector.record(Point {c.steps[i].x, c.steps[i].y}, c.steps[i].time)) found.push_back(i);
        EXPECT_EQ(found, c.shakes) << c.what;
    }
}
