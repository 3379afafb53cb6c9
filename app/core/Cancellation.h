#pragma once

#include <atomic>
#include <exception>

namespace zorvane {

// A request to stop, made once from any thread and seen by work running on others: they check
// isCancelled() between steps, or wait on descriptor() (readable once cancelled) beside their
// own file descriptors.
class Cancellation {
public:
    // Throws std::system_error when no descriptor is left for it.
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    int descriptor() const { return readEnd_; }

private:
    std::atomic<bool> cancelled_ {false};
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

// Thrown by work that stopped because it was cancelled; nobody is waiting for its result.
class OperationCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

} // namespace zorvane
