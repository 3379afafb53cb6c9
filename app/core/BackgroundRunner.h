#pragma once

#include "app/core/Cancellation.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace zorvane {

// Threads for work that must not run on the main thread, owned by whoever starts them. Each job
// gets a cancellation of its own, cancelled by its starter or by the runner, and is expected to end
// soon after (a child process is ended, a wait is cut short). Destroying the runner cancels every
// job and joins it, so no job outlives its owner or posts anything after it is gone.
class BackgroundRunner {
public:
    using Job = std::function<void(const std::shared_ptr<const Cancellation>&)>;

    BackgroundRunner();
    ~BackgroundRunner();
    BackgroundRunner(const BackgroundRunner&) = delete;
    BackgroundRunner& operator=(const BackgroundRunner&) = delete;

    // Starts the job on a thread of its own and returns what ends that job alone. After
    // cancelAndJoin() a job still runs, already cancelled.
    std::shared_ptr<Cancellation> run(Job job);
    // Cancels every job, running or to come, and waits for the running ones to end.
    void cancelAndJoin();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<Cancellation> cancellation;
        bool finished = false;
    };
    void joinFinished();

    std::mutex mutex_;
    bool cancelled_ = false;
    std::list<Worker> workers_;
};

} // namespace zorvane
