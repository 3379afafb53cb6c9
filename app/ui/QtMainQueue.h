#pragma once

#include "app/platform/MainQueue.h"

#include <QObject>
#include <QPointer>

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

private:
    // Lives on the GUI thread; tasks posted after it is gone are dropped.
    QPointer<QObject> context_;
};

} // namespace zorvane::ui
