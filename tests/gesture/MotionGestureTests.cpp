#include "app/gesture/MotionGestureDetector.h"
#include "app/gesture/MotionGestureMonitor.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <limits>
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

class MotionGestureMonitorTest : public ::testing::Test {
protected:
    MotionGestureMonitorTest()
    {
        defaults->registerDefaults({{"activationEnabled", true}, {"motionThreshold", 2200.0}});
        monitor->onTrigger = [this] { ++triggers; };
        monitor->start();
    }

    // Six moves 1/16 s apart (exact in binary, so pauses are met to the tick), `amplitude` points
    // sideways: 150 is 2400 points per second, a shake at the default threshold. Then the main queue runs.
    void swing(double amplitude = 150, bool local = false)
    {
        for (int i = 0; i < 6; ++i, clock->advance(0.0625)) {
            const Point p {i % 2 ? 400 + amplitude : 400, 500};
            local ? events->movePointerLocally(p) : events->movePointerGlobally(p);
        }
        queue->runPending();
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakeEventMonitors> events = std::make_shared<fakes::FakeEventMonitors>(clock);
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    std::shared_ptr<MotionGestureMonitor> monitor = MotionGestureMonitor::create(events, defaults, queue);
    int triggers = 0;
};

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

TEST_F(MotionGestureMonitorTest, ReportsAShakeOnTheMainQueueJudgedByWhenEachMoveWasSeenThenPauses)
{
    // Handled late and all at once, as by a busy main thread: six moves seen 0.2 s apart are no
    // shake, six seen 1/16 s apart are one.
    const auto seen = [&](double first, double interval) {
        for (int i = 0; i < 6; ++i) events->movePointerGlobally(Point {i % 2 ? 550.0 : 400.0, 500}, first + i * interval);
    };
    seen(clock->uptime() - 2, 0.2);
    queue->runPending();
    EXPECT_EQ(triggers, 0);
    const double shakeTime = clock->uptime() - 0.1875;
    seen(shakeTime - 5 * 0.0625, 0.0625);
    EXPECT_EQ(triggers, 0) << "never from inside the event handler";
    queue->runPending();
    EXPECT_EQ(triggers, 1);

    swing(); // straight away: in the pause
    EXPECT_EQ(triggers, 1);
    clock->setUptime(shakeTime + 1.5);
    events->movePointerGlobally(Point {900, 500});
    EXPECT_TRUE(monitor->detector().samples().empty()) << "exactly 1.5 s later is still in the pause";
    clock->advance(0.0625);
    swing(150, true); // after it, a shake over our own windows counts too
    EXPECT_EQ(triggers, 2);
}

TEST_F(MotionGestureMonitorTest, FollowsItsSettingsFromTheNextMoveAndLeavesNothingBehind)
{
    defaults->setBool("activationEnabled", false);
    swing();
    EXPECT_EQ(triggers, 0);
    EXPECT_TRUE(monitor->detector().samples().empty());
    EXPECT_EQ(events->installedMonitorCount(), 0u) << "switched off, nothing watches the pointer anywhere";
    defaults->setBool("activationEnabled", true);
    queue->runPending();
    EXPECT_EQ(events->installedMonitorCount(), 2u);
    defaults->setDouble("motionThreshold", 3500);
    swing(); // 2400 points per second
    EXPECT_EQ(triggers, 0);
    defaults->setDouble("motionThreshold", 1500);
    swing(100); // 1600 points per second
    EXPECT_EQ(triggers, 1);
    clock->advance(2);
    defaults->setDouble("motionThreshold", std::numeric_limits<double>::quiet_NaN()); // damaged: the default applies
    swing();
    EXPECT_EQ(triggers, 2);

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(events->installedMonitorCount(), 0u);
    EXPECT_EQ(events->strayRemovalCount(), 0u);
    clock->advance(2);
    swing();
    EXPECT_EQ(triggers, 2);
    monitor->start(); // destroyed with a shake on its way: the monitors go, the report is dropped
    for (int i = 0; i < 6; ++i, clock->advance(0.0625)) events->movePointerGlobally(Point {i % 2 ? 550.0 : 400.0, 500});
    monitor.reset();
    EXPECT_EQ(events->installedMonitorCount(), 0u);
    queue->runPending();
    EXPECT_EQ(triggers, 2);
}
