#include "app/core/SystemClock.h"

#include <ctime>

namespace zorvane {

namespace {

double seconds(clockid_t clock)
{
    timespec time {};
    clock_gettime(clock, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

} // namespace

double SystemClock::uptime() const
{
    return seconds(CLOCK_MONOTONIC);
}

double SystemClock::now() const
{
    return seconds(CLOCK_REALTIME) - referenceDateOffset;
}

} // namespace zorvane
