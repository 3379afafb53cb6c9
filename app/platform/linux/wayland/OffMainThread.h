#pragma once

#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include <QObject>

#include <memory>
#include <thread>

namespace zorvane {

// Runs one bounded job at a time on a thread of its own and hands its outcome to the main thread.
// Destroying it waits for a running job (each has its own deadline); an outcome that arrives after
// that is dropped with the object that would have received it.
class OffMainThread {
public:
    OffMainThread() : receiver_(std::make_unique<QObject>()) {}
    ~OffMainThread()
    {
        if (thread_.joinable()) thread_.join();
    }
    OffMainThread(const OffMainThread&) = delete;
    OffMainThread& operator=(const OffMainThread&) = delete;

    void run(std::function<SnapshotOutcome()> job, SnapshotDone done)
    {
        if (thread_.joinable()) thread_.join();
        QObject* receiver = receiver_.get();
        thread_ = std::thread([job = std::move(job), done = std::move(done), receiver]() mutable {
            auto outcome = std::make_shared<SnapshotOutcome>(job());
            QMetaObject::invokeMethod(receiver, [done = std::move(done), outcome] { done(std::move(*outcome)); }, Qt::QueuedConnection);
        });
    }

private:
    std::unique_ptr<QObject> receiver_;
    std::thread thread_;
};

} // namespace zorvane
