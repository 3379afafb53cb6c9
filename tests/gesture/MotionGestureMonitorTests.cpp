#include "app/gesture/MotionGestureMonitor.h"

#include "fakes/FakeEventMonitors.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <cmath>
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

    // Six pointer moves 1/16 s apart (exact in binary, so pauses can be met to the tick), swinging
    // `amplitude` points sideways: at 150 points this is 2400 points per second, a shake at the
    // default threshold.
    void swing(double amplitude = 150, bool local = false)
    {
        for (int i = 0; i < 6; ++i) {
            if (i > 0) clock->advance(0.0625);
            const Point p {i % 2 ? 400 + amplitude : 400, 500};
            if (local)
                events->movePointerLocally(p);
            else
                events->movePointerGlobally(p);
        }
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakeEventMonitors> events = std::make_shared<fakes::FakeEventMonitors>();
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    std::shared_ptr<MotionGestureMonitor> monitor = MotionGestureMonitor::create(events, defaults, clock, queue);
    int triggers = 0;
};

} // namespace

TEST_F(MotionGestureMonitorTest, ReportsAShakeLaterOnTheMainQueue)
{
    monitor->start();
    swing();
    EXPECT_EQ(triggers, 0) << "never from inside the event handler";
    queue->runPending();
    EXPECT_EQ(triggers, 1);

    // Movements over our own windows count the same way.
    clock->advance(2);
    swing(150, true);
    queue->runPending();
    EXPECT_EQ(triggers, 2);
}

TEST_F(MotionGestureMonitorTest, InstallsItsMonitorsOnceAndRemovesThemWhenStoppedOrDestroyed)
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

    monitor->start();
    EXPECT_EQ(events->installedMonitorCount(), 2u);
    monitor.reset();
    EXPECT_EQ(events->installedMonitorCount(), 0u);
}

TEST_F(MotionGestureMonitorTest, AShakeReportedAfterTheMonitorIsGoneIsDropped)
{
    monitor->start();
    swing();
    monitor.reset();
    queue->runPending();
    EXPECT_EQ(triggers, 0);
}

TEST_F(MotionGestureMonitorTest, PausesForOneAndAHalfSecondsAfterAShake)
{
    monitor->start();
    swing();
    queue->runPending();
    ASSERT_EQ(triggers, 1);

    const double shakeTime = clock->uptime();

    // A second shake straight away falls in the pause and leaves nothing behind.
    clock->advance(0.0625);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 1);
    EXPECT_TRUE(monitor->detector().samples().empty());

    // A movement exactly 1.5 s after the shake is still inside the pause.
    clock->setUptime(shakeTime + 1.5);
    events->movePointerGlobally(Point {900, 500});
    EXPECT_TRUE(monitor->detector().samples().empty());

    // After the pause a fresh shake is reported again.
    clock->advance(0.0625);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 2);
}

TEST_F(MotionGestureMonitorTest, SwitchedOffItRecordsAndReportsNothing)
{
    defaults->setBool("activationEnabled", false);
    monitor->start();
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 0);
    EXPECT_TRUE(monitor->detector().samples().empty());
    EXPECT_EQ(events->installedMonitorCount(), 2u) << "the setting does not remove the monitors";

    // Switching it back on applies from the next movement, without restarting anything.
    defaults->setBool("activationEnabled", true);
    clock->advance(1);
    swing();
    queue->runPending();
    EXPECT_EQ(triggers, 1);
}

TEST_F(MotionGestureMonitorTest, FollowsTheSensitivitySettingFromTheNextMovement)
{
    monitor->start();
    defaults->setDouble("motionThreshold", 3500);
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
