#pragma once

namespace zorvane {

// The only source of time: tests substitute a virtual clock.
class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds since boot (uptime); never goes backwards.
    virtual double uptime() const = 0;
    // Wall-clock seconds since 2001-01-01 00:00:00 UTC.
    virtual double now() const = 0;
};

} // namespace zorvane
