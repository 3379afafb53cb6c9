#pragma once

#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zorvane::fakes {

// Event monitors driven by the test: it places the pointer and delivers pointer-moved and
// key-down events to whatever monitors are installed at that moment. Tokens are never reused
// and never 0. Thread-safe, so a test may deliver a global key press from another thread.
//
// It keeps the removal contract the way an adapter must: removeMonitor waits for a call of that
// handler running on another thread, and a removed handler is never entered again. A handler that
// is still running when its removal returns is recorded (lateHandlerCount) and fails the test.
class FakeEventMonitors : public EventMonitors {
public:
    // Pointer movements without an explicit time are stamped with this clock's uptime (0 without one).
    explicit FakeEventMonitors(std::shared_ptr<Clock> clock = nullptr) : clock_(std::move(clock)) {}
    ~FakeEventMonitors() override;

    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override;
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;
    Point currentPointerLocation() override;

    // Places the pointer without telling any monitor.
    void setPointerLocation(Point location);
    // Places the pointer, then tells the global (or local) pointer-moved monitors that it moved
    // there at `uptime` (the clock's uptime when not given): a movement seen earlier and handled late.
    void movePointerGlobally(Point location, std::optional<double> uptime = std::nullopt);
    void movePointerLocally(Point location, std::optional<double> uptime = std::nullopt);
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
    // Handlers found still running on another thread after their removal returned.
    std::size_t lateHandlerCount() const;

private:
    enum class Kind { globalPointerMoved, localPointerMoved, globalKeyDown, localKeyDown };
    struct Monitor {
        Kind kind;
        std::function<void(const PointerMovement&)> pointerHandler;
        std::function<void(const KeyEvent&)> globalKeyHandler;
        std::function<bool(const KeyEvent&)> localKeyHandler;
        std::vector<std::thread::id> runningOn; // threads inside the handler now
        bool removed = false;
    };
    using Monitors = std::map<MonitorToken, std::shared_ptr<Monitor>>; // ordered by installation

    MonitorToken add(Monitor monitor);
    std::size_t count(Kind kind) const;
    std::vector<std::shared_ptr<Monitor>> snapshot(Kind kind) const;
    // Runs `call` as the handler of `monitor` unless it has been removed; false when it was.
    bool enter(const std::shared_ptr<Monitor>& monitor, const std::function<void()>& call);
    void deliverPointerMoved(Kind kind, Point location, std::optional<double> uptime);

    std::shared_ptr<Clock> clock_;
    mutable std::mutex mutex_;
    std::condition_variable handlerLeft_;
    Monitors monitors_;
    MonitorToken nextToken_ = 1;
    Point pointer_;
    std::size_t strayRemovals_ = 0;
    std::size_t lateHandlers_ = 0;
};

} // namespace zorvane::fakes
