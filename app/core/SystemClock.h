#pragma once

#include "app/platform/Clock.h"

namespace zorvane {

// The real clock: uptime from the monotonic clock, now from the real-time clock counted from
// 2001-01-01 00:00:00 UTC. Thread-safe.
class SystemClock : public Clock {
public:
    // Seconds from 1970-01-01 to 2001-01-01, both UTC.
    static constexpr double referenceDateOffset = 978307200;

    double uptime() const override;
    double now() const override;
};

} // namespace zorvane
