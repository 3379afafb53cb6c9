#pragma once

#include <chrono>

namespace zorvane {

// The session's switch for assistive technologies (org.a11y.Status.IsEnabled on the session bus,
// kept by the accessibility bus launcher): the same switch screen readers turn on. GTK and Qt
// applications expose their trees while it is on. Any thread; each call waits at most `timeout`.
class AtspiAccessibilityStatus {
public:
    explicit AtspiAccessibilityStatus(std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

    // The accessibility bus answers and the switch is on.
    bool isEnabled() const;
    // Turns the switch on; whether it is on afterwards.
    bool enable();

private:
    std::chrono::milliseconds timeout_;
};

} // namespace zorvane
