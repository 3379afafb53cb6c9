#include "app/core/BackgroundRunner.h"

#include <vector>

namespace zorvane {

BackgroundRunner::BackgroundRunner() = default;

BackgroundRunner::~BackgroundRunner()
{
    cancelAndJoin();
}

std::shared_ptr<Cancellation> BackgroundRunner::run(Job job)
{
    joinFinished();
    auto cancellation = std::make_shared<Cancellation>();
    std::lock_guard lock(mutex_);
    if (cancelled_) cancellation->cancel();
    Worker& worker = workers_.emplace_back();
    worker.cancellation = cancellation;
    // The thread marks its own entry finished; entries are only erased once joined, so the
    // reference stays valid for as long as the thread runs.
    worker.thread = std::thread([this, &worker, job = std::move(job), own = std::shared_ptr<const Cancellation>(cancellation)] {
        try {
            job(own);
        } catch (...) {
            // A job reports its own failures; one that escapes must not end the program.
        }
        std::lock_guard lock(mutex_);
        worker.finished = true;
    });
    return cancellation;
}

void BackgroundRunner::joinFinished()
{
    std::list<Worker> done;
    {
        std::lock_guard lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto next = std::next(it);
            if (it->finished) done.splice(done.end(), workers_, it);
            it = next;
        }
    }
    for (Worker& worker : done) worker.thread.join();
}

void BackgroundRunner::cancelAndJoin()
{
    std::list<Worker> all;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        for (Worker& worker : workers_) worker.cancellation->cancel();
        all.splice(all.end(), workers_);
    }
    for (Worker& worker : all) worker.thread.join();
}

} // namespace zorvane
