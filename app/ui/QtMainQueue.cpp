#include "app/ui/QtMainQueue.h"

#include <QMetaObject>
#include <QTimer>

#include <cmath>
#include <memory>

namespace zorvane::ui {
namespace {

// The GUI thread's end of the queue. Woken by name, so every object that crosses threads for a
// wake-up is made inside Qt: nothing of ours is handed over behind the sanitizer's back.
class QueueWaker : public QObject {
    Q_OBJECT
public:
    explicit QueueWaker(QtMainQueue& queue) : queue_(queue) {}
    Q_INVOKABLE void runOldest() { queue_.runOldest(); }

private:
    QtMainQueue& queue_;
};

} // namespace

QtMainQueue::QtMainQueue() : context_(new QueueWaker(*this)) {}

QtMainQueue::~QtMainQueue() { delete context_; }

void QtMainQueue::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(task));
    }
    // One queued event per task, each running the oldest pending task: Qt keeps the order of
    // events posted from one thread, and a nested event loop runs later tasks as it would events.
    QMetaObject::invokeMethod(context_, "runOldest", Qt::QueuedConnection);
}

void QtMainQueue::runOldest()
{
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return;
        task = std::move(pending_.front());
        pending_.pop_front();
    }
    task();
}

void QtMainQueue::postAfter(double seconds, std::function<void()> task)
{
    if (!(seconds > 0)) {
        post(std::move(task));
        return;
    }
    // Whole milliseconds, never early.
    const int milliseconds = static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2147483647.0));
    // Timers must be started on the thread they fire on, so the timer is armed from a task.
    post([context = context_, milliseconds, task = std::move(task)]() mutable {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, [task = std::move(task)] { task(); });
    });
}

} // namespace zorvane::ui

#include "QtMainQueue.moc"
