#pragma once

#include "app/platform/Clock.h"
#include "app/platform/MainQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace zorvane::fakes {

// A clock that moves only when the test says so; wall time moves with uptime.
class FakeClock : public Clock {
public:
    double uptime() const override { return uptime_; }
    double now() const override { return uptime_ + 799999000.0; }
    void advance(double seconds) { uptime_.fetch_add(seconds); }
    void setUptime(double uptime) { uptime_ = uptime; }

private:
    std::atomic<double> uptime_ {1000.0};
};

// A main queue driven by the test: nothing runs until the test runs or advances it. Posting is
// thread-safe, so work finished on other threads can be waited for and then run "on main".
class ManualMainQueue : public MainQueue {
public:
    explicit ManualMainQueue(FakeClock& clock) : clock_(clock) {}

    void post(std::function<void()> task) override { postAfter(0, std::move(task)); }
    void postAfter(double seconds, std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        tasks_.emplace(std::pair(clock_.uptime() + std::max(0.0, seconds), sequence_++), std::move(task));
        posted_.notify_all();
    }

    // Runs every task due now, in due order, including those they post for now. Returns how many ran.
    std::size_t runPending()
    {
        for (std::size_t ran = 0;; ++ran) {
            std::unique_lock lock(mutex_);
            if (!due(clock_.uptime())) return ran;
            const auto task = std::move(tasks_.begin()->second);
            tasks_.erase(tasks_.begin());
            lock.unlock();
            task();
        }
    }
    // Moves the clock forward by `seconds`, running each task at its due time.
    void advance(double seconds)
    {
        const double target = clock_.uptime() + seconds;
        runPending();
        for (auto next = nextDue(); next && *next <= target; next = nextDue()) {
            clock_.setUptime(std::max(clock_.uptime(), *next));
            runPending();
        }
        clock_.setUptime(std::max(clock_.uptime(), target));
        runPending();
    }
    // Blocks (real time, bounded) until a task is queued: for work that other threads finish.
    bool waitForTask(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex_);
        return posted_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
    }
    // Runs tasks as they come, waiting in real time up to `timeout`, until `done()` holds.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        for (const auto deadline = std::chrono::steady_clock::now() + timeout; !done();) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::unique_lock lock(mutex_);
            // Some conditions change on other threads without a task: look again every 20 ms.
            posted_.wait_for(lock, std::chrono::milliseconds(20), [&] { return due(clock_.uptime()); });
            lock.unlock();
            runPending();
        }
        return true;
    }
    std::size_t pendingCount() const
    {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    // Tasks ever posted, and a bounded wait for that many: for reports other threads owe a test.
    std::uint64_t postedCount() const
    {
        std::lock_guard lock(mutex_);
        return sequence_;
    }
    bool waitForPosted(std::uint64_t count)
    {
        std::unique_lock lock(mutex_);
        return posted_.wait_for(lock, std::chrono::seconds(10), [&] { return sequence_ >= count; });
    }

private:
    bool due(double time) const { return !tasks_.empty() && tasks_.begin()->first.first <= time; }
    std::optional<double> nextDue() const
    {
        std::lock_guard lock(mutex_);
        return tasks_.empty() ? std::nullopt : std::optional(tasks_.begin()->first.first);
    }

    FakeClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::map<std::pair<double, std::uint64_t>, std::function<void()>> tasks_; // by due time, then order posted
    std::uint64_t sequence_ = 0;
};

} // namespace zorvane::fakes
