#pragma once

#include "app/core/SystemClock.h"
#include "app/platform/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace zorvane::testing {

// The main queue on Qt's event loop. Tasks wait in a list of our own behind a std::mutex and an
// eventfd wakes the loop: nothing is handed across threads inside Qt, which the thread sanitizer
// cannot see into.
class QtTestMainQueue final : public MainQueue {
public:
    QtTestMainQueue() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), notifier_(wake_, QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { runDue(); });
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { runDue(); });
    }
    ~QtTestMainQueue() override { ::close(wake_); }

    void post(std::function<void()> task) override { postAfter(0, std::move(task)); }

    void postAfter(double seconds, std::function<void()> task) override
    {
        {
            const std::lock_guard lock(mutex_);
            tasks_.emplace(std::make_pair(clock_.uptime() + seconds, sequence_++), std::move(task));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }

private:
    void runDue()
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wake_, &count, sizeof count);
        for (;;) {
            std::function<void()> task;
            double nextDue = -1;
            {
                const std::lock_guard lock(mutex_);
                if (tasks_.empty()) break;
                const auto first = tasks_.begin();
                if (first->first.first > clock_.uptime()) {
                    nextDue = first->first.first;
                } else {
                    task = std::move(first->second);
                    tasks_.erase(first);
                }
            }
            if (!task) {
                timer_.start(std::max(1, int((nextDue - clock_.uptime()) * 1000)));
                break;
            }
            task();
        }
    }

    SystemClock clock_;
    int wake_;
    QSocketNotifier notifier_;
    QTimer timer_;
    std::mutex mutex_;
    std::map<std::pair<double, std::uint64_t>, std::function<void()>> tasks_;
    std::uint64_t sequence_ = 0;
};

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool waitUntil(const std::function<bool()>& condition, double seconds = 10)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick; // so that waiting for events never outlasts the deadline
    tick.start(10);
    while (!condition()) {
        if (timer.elapsed() > seconds * 1000) return condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Runs the event loop for a while, whatever happens.
inline void settle(double seconds)
{
    waitUntil([] { return false; }, seconds);
}

} // namespace zorvane::testing
