#pragma once

#include "app/core/Geometry.h"

#include <cstdint>
#include <functional>

namespace zorvane {

using MonitorToken = std::uint64_t;

// One pointer movement as the window system saw it: the handler may run later than that, so it
// records these rather than asking where the pointer is now.
struct PointerMovement {
    Point location; // Quartz global points
    double uptime = 0; // Clock::uptime() seconds when the movement was seen
};

struct KeyEvent {
    // Key codes use the Apple virtual key numbering, which adapters translate to.
    static constexpr int escape = 53;
    static constexpr int returnKey = 36;
    static constexpr int keypadEnter = 76;
    static constexpr int tab = 48;
    static constexpr int pageUp = 116;
    static constexpr int pageDown = 121;
    static constexpr int leftArrow = 123;
    static constexpr int rightArrow = 124;
    static constexpr int downArrow = 125;
    static constexpr int upArrow = 126;
    int keyCode = 0;
    bool shift = false; // held with the key (Shift+Tab)
};

// Pointer and keyboard observation. "Global" monitors see events meant for other applications,
// "local" ones events meant for our own windows.
//
// Removal: a monitor may be removed from inside its own handler (Escape removes the monitor that
// saw it). Once removeMonitor returns, that monitor's handler is not running and will not run
// again, whatever thread delivers it; an adapter that delivers on another thread waits in
// removeMonitor for a call in progress on that thread to finish (but not for one on the calling
// thread, which is the handler removing itself).
class EventMonitors {
public:
    virtual ~EventMonitors() = default;
    // Pointer-moved handlers run on the main thread and receive where the pointer was and when.
    virtual MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) = 0;
    virtual MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) = 0;
    // The global key handler may run outside the main thread's event handling.
    virtual MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) = 0;
    // The local key handler runs on the main thread; returning true swallows the event.
    virtual MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) = 0;
    virtual void removeMonitor(MonitorToken token) = 0;
    // The pointer's current location, queried afresh, in Quartz global coordinates.
    virtual Point currentPointerLocation() = 0;
};

} // namespace zorvane
