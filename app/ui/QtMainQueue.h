#pragma once

#include "app/platform/MainQueue.h"

#include <QObject>

#include <deque>
#include <mutex>

namespace zorvane::ui {

// The main queue on Qt's event loop. post and postAfter may be called from any thread; the task
// runs on the thread that made the queue (the GUI thread). Delays use precise timers, so a task
// due after 0.35 s does not run at 0.3 s or 0.4 s as a coarse timer might make it.
class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;

    // Runs the oldest pending task; the GUI thread's queued calls end here.
    void runOldest();

private:
    // Lives on the GUI thread; wake-ups queued for it when it is gone are dropped with it.
    QObject* const context_;
    // Tasks cross threads here, under a lock of ours, not inside Qt's event queue: the order is
    // ours, and the thread sanitizer sees the hand-over (Qt's own locks are invisible to it).
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
};

} // namespace zorvane::ui
