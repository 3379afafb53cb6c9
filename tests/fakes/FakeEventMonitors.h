#pragma once

#include "app/platform/EventMonitors.h"

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>

namespace zorvane::fakes {

// Event monitors driven by the test: it places the pointer and delivers pointer-moved and
// key-down events to whatever monitors are installed at that moment. Tokens are never reused
// and never 0. Thread-safe, so a test may deliver a global key press from another thread.
class FakeEventMonitors : public EventMonitors {
public:
    MonitorToken addGlobalPointerMovedMonitor(std::function<void()> handler) override;
    MonitorToken addLocalPointerMovedMonitor(std::function<void()> handler) override;
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override;
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;
    Point currentPointerLocation() override;

    // Places the pointer without telling any monitor.
    void setPointerLocation(Point location);
    // Places the pointer, then tells the global (or local) pointer-moved monitors.
    void movePointerGlobally(Point location);
    void movePointerLocally(Point location);
    // Calls every installed global key monitor, in the order they were added.
    void deliverGlobalKeyDown(KeyEvent event);
    // Local key monitors run in the order they were added until one swallows the event.
    // Returns true when the event was swallowed (it would not reach the application).
    bool deliverLocalKeyDown(KeyEvent event);

    std::size_t globalPointerMovedMonitorCount() const;
    std::size_t localPointerMovedMonitorCount() const;
    // Every monitor of any kind still installed.
    std::size_t installedMonitorCount() const;
    // removeMonitor calls with a token that was not installed (never issued, or already removed).
    std::size_t strayRemovalCount() const;

private:
    enum class Kind { globalPointerMoved, localPointerMoved, globalKeyDown, localKeyDown };
    struct Monitor {
        Kind kind;
        std::function<void()> pointerHandler;
        std::function<void(const KeyEvent&)> globalKeyHandler;
        std::function<bool(const KeyEvent&)> localKeyHandler;
    };

    MonitorToken add(Monitor monitor);
    std::size_t count(Kind kind) const;
    void deliverPointerMoved(Kind kind);
    // The handler of `token` if it is still installed; delivery re-checks before every call, so a
    // handler that removes another monitor keeps that one from running.
    bool lookUp(MonitorToken token, Monitor& out) const;

    mutable std::mutex mutex_;
    std::map<MonitorToken, Monitor> monitors_; // ordered by token, i.e. by installation
    MonitorToken nextToken_ = 1;
    Point pointer_;
    std::size_t strayRemovals_ = 0;
};

} // namespace zorvane::fakes
