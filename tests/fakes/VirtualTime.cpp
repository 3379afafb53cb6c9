#include "fakes/VirtualTime.h"

#include <algorithm>
#include <limits>

namespace zorvane::fakes {

double FakeClock::uptime() const
{
    std::lock_guard lock(mutex_);
    return uptime_;
}

double FakeClock::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

void FakeClock::advance(double seconds)
{
    std::lock_guard lock(mutex_);
    uptime_ += seconds;
    now_ += seconds;
}

void FakeClock::setUptime(double uptime)
{
    std::lock_guard lock(mutex_);
    now_ += uptime - uptime_;
    uptime_ = uptime;
}

void ManualMainQueue::post(std::function<void()> task)
{
    postAfter(0, std::move(task));
}

void ManualMainQueue::postAfter(double seconds, std::function<void()> task)
{
    const double due = clock_.uptime() + std::max(0.0, seconds);
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(Task {due, sequence_++, std::move(task)});
    }
    posted_.notify_all();
}

bool ManualMainQueue::popDue(double now, Task& out)
{
    std::lock_guard lock(mutex_);
    auto best = tasks_.end();
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (it->due > now) continue;
        if (best == tasks_.end() || it->due < best->due || (it->due == best->due && it->sequence < best->sequence)) best = it;
    }
    if (best == tasks_.end()) return false;
    out = std::move(*best);
    tasks_.erase(best);
    return true;
}

std::size_t ManualMainQueue::runPending()
{
    std::size_t ran = 0;
    Task task;
    while (popDue(clock_.uptime(), task)) {
        task.run();
        ++ran;
    }
    return ran;
}

void ManualMainQueue::advance(double seconds)
{
    const double target = clock_.uptime() + seconds;
    for (;;) {
        runPending();
        double next = std::numeric_limits<double>::infinity();
        {
            std::lock_guard lock(mutex_);
            for (const auto& t : tasks_) next = std::min(next, t.due);
        }
        if (next > target) break;
        if (next > clock_.uptime()) clock_.setUptime(next);
    }
    if (clock_.uptime() < target) clock_.setUptime(target);
    runPending();
}

bool ManualMainQueue::waitForTask(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
}

bool ManualMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        runPending();
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) return done();
        std::unique_lock lock(mutex_);
        posted_.wait_for(lock, std::min(left, std::chrono::milliseconds(50)), [&] {
            const double now = clock_.uptime();
            return std::any_of(tasks_.begin(), tasks_.end(), [&](const Task& t) { return t.due <= now; });
        });
    }
}

std::size_t ManualMainQueue::pendingCount() const
{
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

} // namespace zorvane::fakes
