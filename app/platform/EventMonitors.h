#pragma once

#include "app/core/Geometry.h"

#include <cstdint>
#include <functional>

namespace zorvane {

using MonitorToken = std::uint64_t;

struct KeyEvent {
    // Key codes use the Apple virtual key numbering, which adapters translate to; Escape is 53.
    static constexpr int escape = 53;
    int keyCode = 0;
};

// Pointer and keyboard observation. "Global" monitors see events meant for other applications,
// "local" ones events meant for our own windows.
class EventMonitors {
public:
    virtual ~EventMonitors() = default;
    // Pointer-moved handlers run on the main thread; read the position with currentPointerLocation().
    virtual MonitorToken addGlobalPointerMovedMonitor(std::function<void()> handler) = 0;
    virtual MonitorToken addLocalPointerMovedMonitor(std::function<void()> handler) = 0;
    // The global key handler may run outside the main thread's event handling.
    virtual MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) = 0;
    // The local key handler runs on the main thread; returning true swallows the event.
    virtual MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) = 0;
    virtual void removeMonitor(MonitorToken token) = 0;
    // The pointer's current location, queried afresh, in Quartz global coordinates.
    virtual Point currentPointerLocation() = 0;
};

} // namespace zorvane
