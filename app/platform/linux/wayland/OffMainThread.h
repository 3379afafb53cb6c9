#pragma once

#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include <QObject>

#include <chrono>
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

// A source whose capture blocks (until its deadline at most): each take runs it off the main thread.
class BlockingSnapshotSource final : public SnapshotSource {
public:
    using Capture = SnapshotOutcome (*)(const std::vector<SnapshotScreen>& screens, std::chrono::steady_clock::time_point deadline);
    explicit BlockingSnapshotSource(Capture capture) : capture_(capture) {}

    void take(const std::vector<SnapshotScreen>& screens, double limitSeconds, SnapshotDone done) override
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::int64_t(limitSeconds * 1000));
        worker_.run([capture = capture_, screens, deadline] { return capture(screens, deadline); }, std::move(done));
    }

private:
    Capture capture_;
    OffMainThread worker_;
};

} // namespace zorvane
