#include "app/ui/QtMainQueue.h"

#include <QMetaObject>
#include <QTimer>

#include <cmath>
#include <memory>

namespace zorvane::ui {

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() { delete context_.data(); }

void QtMainQueue::post(std::function<void()> task)
{
    // A queued invocation is an event on the context's thread: posting is thread-safe, and events
    // from one thread are delivered in the order they were posted.
    QObject* context = context_.data();
    if (!context) return;
    QMetaObject::invokeMethod(context, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double seconds, std::function<void()> task)
{
    if (!(seconds > 0)) {
        post(std::move(task));
        return;
    }
    QObject* context = context_.data();
    if (!context) return;
    // Whole milliseconds, never early.
    const int milliseconds = static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2147483647.0));
    // Timers must be started on the thread they fire on, so the timer is armed from a task.
    QMetaObject::invokeMethod(
        context,
        [context, milliseconds, task = std::move(task)]() mutable {
            QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, [task = std::move(task)] { task(); });
        },
        Qt::QueuedConnection);
}

} // namespace zorvane::ui
