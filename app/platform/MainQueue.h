#pragma once

#include <functional>

namespace zorvane {

// The main thread's run loop. Anything that touches the model or a view runs as a task here.
// post and postAfter may be called from any thread; tasks run on the main thread, in order of
// their due time, and tasks due at the same time in the order they were posted.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(std::function<void()> task) = 0;
    virtual void postAfter(double seconds, std::function<void()> task) = 0;
};

} // namespace zorvane
