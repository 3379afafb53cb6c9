#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace zorvane {

// The session's switch for assistive technologies (org.a11y.Status.IsEnabled on the session bus,
// kept by the accessibility bus launcher): the same switch screen readers turn on. GTK and Qt
// applications expose their trees while it is on. Any thread; each call waits at most `timeout`.
class AtspiAccessibilityStatus {
public:
    // The element lookup asks on every pointer move: an answer is reused this long.
    static constexpr std::chrono::milliseconds reuse {1000};

    explicit AtspiAccessibilityStatus(std::chrono::milliseconds timeout = std::chrono::milliseconds(250));

    // The accessibility bus answers and the switch is on.
    bool isEnabled() const;
    // Turns the switch on; whether it is on afterwards (read afresh).
    bool enable();

private:
    bool read() const;

    std::chrono::milliseconds timeout_;
    mutable std::mutex mutex_;
    mutable std::optional<bool> known_;
    mutable std::chrono::steady_clock::time_point readAt_;
};

} // namespace zorvane
