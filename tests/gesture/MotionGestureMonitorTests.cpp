#include "app/gesture/MotionGestureMonitor.h"

#include "fakes/FakeEventMonitors.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <limits>

using namespace zorvane;

namespace {

class MotionGestureMonitorTest : public ::testing::Test {
protected:
    MotionGestureMonitorTest()
    {
        defaults->registerDefaults({{"activationEnabled", true}, {"motionThreshold", 2200.0}});
        monitor->onTrigger = [this] { ++triggers; };
    }

    // Six pointer moves 1/16 s apart (exact in binary, so pauses can be met to the tick): 150 points
    // sideways is 2400 points per second, a shake at the default threshold.
    void swing(double amplitude = 150, bool local = false)
    {
        for (int i = 0; i < 6; ++i) {
            if (i > 0) clock->advance(0.0625);
            const Point p {i % 2 ? 400 + amplitude : 400, 500};
            local ? events->movePointerLocally(p) : events->movePointerGlobally(p);
        }
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakeEventMonitors> events = std::make_shared<fakes::FakeEventMonitors>(clock);
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    std::shared_ptr<MotionGestureMonitor> monitor = MotionGestureMonitor::create(events, defaults, queue);
    int triggers = 0;
};

} // namespace

TEST_F(MotionGestureMonitorTest, ReportsAShakeOnTheMainQueueThenPausesForOneAndAHalfSeconds)
{
    monitor->start();
    swing();
    EXPECT_EQ(triggers, 0) << "never from inside the event handler";
    queue->runPending();
    EXPECT_EQ(triggers, 1) << "the first shake needs no pause before it";
    const double shakeTime = clock->uptime();

    // A second shake straight away, and a movement exactly 1.5 s later, fall in the pause.
    clock->advance(0.0625);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 1);
    clock->setUptime(shakeTime + 1.5);
    events->movePointerGlobally(Point {900, 500});
    EXPECT_TRUE(monitor->detector().samples().empty());

    // After it, a shake over our own windows is reported too.
    clock->advance(0.0625);
    swing(150, true);
    queue->runPending();
    EXPECT_EQ(triggers, 2);
}

TEST_F(MotionGestureMonitorTest, AShakeHandledLateIsJudgedByWhenEachMovementWasSeen)
{
    monitor->start();
    // The main thread was busy for 200 ms: six movements seen 1/16 s apart are handled together.
    const double seen = clock->uptime();
    clock->advance(0.2);
    for (int i = 0; i < 6; ++i) events->movePointerGlobally(Point {i % 2 ? 550.0 : 400.0, 500}, seen + i * 0.0625);
    queue->runPending();
    EXPECT_EQ(triggers, 1);
}

TEST_F(MotionGestureMonitorTest, InstallsItsMonitorsOnceAndLeavesNothingBehind)
{
    monitor->start();
    monitor->start();
    EXPECT_EQ(events->globalPointerMovedMonitorCount(), 1u);
    EXPECT_EQ(events->localPointerMovedMonitorCount(), 1u);
    monitor->stop();
    monitor->stop();
    EXPECT_EQ(events->installedMonitorCount(), 0u);
    EXPECT_EQ(events->strayRemovalCount(), 0u);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 0);

    // Destroyed with a shake still on its way: the monitors go, the report is dropped.
    monitor->start();
    swing();
    monitor.reset();
    EXPECT_EQ(events->installedMonitorCount(), 0u);
    queue->runPending();
    EXPECT_EQ(triggers, 0);
}

TEST_F(MotionGestureMonitorTest, FollowsItsSettingsFromTheNextMovement)
{
    monitor->start();
    defaults->setBool("activationEnabled", false);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 0);
    EXPECT_TRUE(monitor->detector().samples().empty());

    defaults->setBool("activationEnabled", true);
    defaults->setDouble("motionThreshold", 3500);
    clock->advance(1);
    swing(); // 2400 points per second
    queue->runPending();
    EXPECT_EQ(triggers, 0);

    defaults->setDouble("motionThreshold", 1500);
    clock->advance(1);
    swing(100); // 1600 points per second
    queue->runPending();
    EXPECT_EQ(triggers, 1);
}

TEST_F(MotionGestureMonitorTest, ADamagedThresholdDoesNotSwitchTheGestureOff)
{
    monitor->start();
    defaults->setDouble("motionThreshold", std::numeric_limits<double>::quiet_NaN());
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 1);
}
