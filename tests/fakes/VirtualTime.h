#pragma once

#include "app/platform/Clock.h"
#include "app/platform/MainQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace zorvane::fakes {

// A clock that moves only when the test says so.
class FakeClock : public Clock {
public:
    explicit FakeClock(double uptime = 1000.0, double now = 800000000.0) : uptime_(uptime), now_(now) {}
    double uptime() const override;
    double now() const override;
    void advance(double seconds);
    void setUptime(double uptime);

private:
    mutable std::mutex mutex_;
    double uptime_;
    double now_;
};

// A main queue driven by the test: nothing runs until the test runs or advances it. Posting is
// thread-safe, so work finished on other threads can be waited for and then run "on main".
class ManualMainQueue : public MainQueue {
public:
    explicit ManualMainQueue(FakeClock& clock) : clock_(clock) {}

    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;

    // Runs every task that is due now, including tasks those tasks post for now. Returns how many ran.
    std::size_t runPending();
    // Moves the clock forward by `seconds`, running each task at its due time, in order.
    void advance(double seconds);
    // Blocks (real time) until at least one task is queued or the timeout passes; for work that
    // other threads finish. Returns whether a task is queued.
    bool waitForTask(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Runs pending tasks, waiting for more up to `timeout`, until `done()` holds. Returns done().
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::size_t pendingCount() const;

private:
    struct Task {
        double due;
        std::uint64_t sequence;
        std::function<void()> run;
    };
    bool popDue(double now, Task& out);

    FakeClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<Task> tasks_;
    std::uint64_t sequence_ = 0;
};

} // namespace zorvane::fakes
