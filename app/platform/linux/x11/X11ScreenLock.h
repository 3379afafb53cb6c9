#pragma once

#include <chrono>

namespace zorvane {

// Whether the session's screen is locked (or blanked by the screen saver) now: the X server's
// screen saver is on, or the session's screen saver service says it is active. Main thread only,
// after the QGuiApplication exists; the bus is asked with a short bound, and a service that is
// not running is never started for it.
class X11ScreenLock {
public:
    static constexpr std::chrono::milliseconds busBound {150};
    static bool isLocked();
};

} // namespace zorvane
