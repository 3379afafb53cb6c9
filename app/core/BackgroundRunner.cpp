#include "app/core/BackgroundRunner.h"

#include <vector>

namespace zorvane {

BackgroundRunner::BackgroundRunner() : cancellation_(std::make_shared<Cancellation>()) {}

BackgroundRunner::~BackgroundRunner()
{
    cancelAndJoin();
}

void BackgroundRunner::run(Job job)
{
    joinFinished();
    std::lock_guard lock(mutex_);
    Worker& worker = workers_.emplace_back();
    // The thread marks its own entry finished; entries are only erased once joined, so the
    // reference stays valid for as long as the thread runs.
    worker.thread = std::thread([this, &worker, job = std::move(job), cancellation = std::shared_ptr<const Cancellation>(cancellation_)] {
        try {
            job(cancellation);
        } catch (...) {
            // A job reports its own failures; one that escapes must not end the program.
        }
        std::lock_guard lock(mutex_);
        worker.finished = true;
    });
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
    cancellation_->cancel();
    std::list<Worker> all;
    {
        std::lock_guard lock(mutex_);
        all.splice(all.end(), workers_);
    }
    for (Worker& worker : all) worker.thread.join();
}

} // namespace zorvane
