#include "app/gesture/MotionGestureMonitor.h"
#include "fakes/FakeWindowSystem.h"
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
    defaults->setBool("activationEnabled", true);
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

    monitor->start(); // once only
    EXPECT_EQ(events->installedMonitorCount(), 2u);
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
