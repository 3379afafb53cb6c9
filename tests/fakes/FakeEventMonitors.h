#pragma once

#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zorvane::fakes {

// Event monitors the test drives from any thread: it places the pointer and delivers movements and
// key presses to the monitors installed at that moment. Handlers run under the lock, which keeps
// the removal contract an adapter must: a removal from another thread waits for a running handler,
// a handler may remove monitors (itself too), and a removed one never runs again.
class FakeEventMonitors : public EventMonitors {
public:
    // Movements without an explicit time are stamped with this clock's uptime (0 without one).
    explicit FakeEventMonitors(std::shared_ptr<Clock> clock = nullptr) : clock_(std::move(clock)) {}

    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override
    {
        return add(Kind::globalPointer, [handler](const Event& event) { return handler(*event.movement), false; });
    }
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override
    {
        return add(Kind::localPointer, [handler](const Event& event) { return handler(*event.movement), false; });
    }
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override
    {
        return add(Kind::globalKey, [handler](const Event& event) { return handler(*event.key), false; });
    }
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override
    {
        return add(Kind::localKey, [handler](const Event& event) { return handler(*event.key); });
    }
    void removeMonitor(MonitorToken token) override
    {
        Lock lock(mutex_);
        strayRemovals_ += monitors_.erase(token) == 0; // never issued, or already removed
    }
    Point currentPointerLocation() override
    {
        Lock lock(mutex_);
        return pointer_;
    }

    void setPointerLocation(Point location)
    {
        Lock lock(mutex_);
        pointer_ = location;
    }
    // Places the pointer and tells the pointer monitors it moved there at `uptime` (default: now).
    void movePointerGlobally(Point to, std::optional<double> uptime = std::nullopt) { movePointer(Kind::globalPointer, to, uptime); }
    void movePointerLocally(Point to, std::optional<double> uptime = std::nullopt) { movePointer(Kind::localPointer, to, uptime); }
    void deliverGlobalKeyDown(KeyEvent key) { deliver(Kind::globalKey, {nullptr, &key}); }
    // Local key monitors run in the order added until one swallows the key; returns whether one did.
    bool deliverLocalKeyDown(KeyEvent key) { return deliver(Kind::localKey, {nullptr, &key}); }

    std::size_t installedMonitorCount() const
    {
        Lock lock(mutex_);
        return monitors_.size();
    }
    std::size_t strayRemovalCount() const
    {
        Lock lock(mutex_);
        return strayRemovals_;
    }

private:
    using Lock = std::lock_guard<std::recursive_mutex>;
    enum class Kind { globalPointer, localPointer, globalKey, localKey };
    struct Event {
        const PointerMovement* movement;
        const KeyEvent* key;
    };
    using Call = std::function<bool(const Event&)>; // true: the event is swallowed

    MonitorToken add(Kind kind, Call call)
    {
        Lock lock(mutex_);
        monitors_.emplace(nextToken_, std::pair(kind, std::move(call)));
        return nextToken_++;
    }
    void movePointer(Kind kind, Point to, std::optional<double> uptime)
    {
        setPointerLocation(to);
        const PointerMovement movement {to, uptime ? *uptime : clock_ ? clock_->uptime() : 0.0};
        deliver(kind, {&movement, nullptr});
    }
    bool deliver(Kind kind, const Event& event)
    {
        Lock lock(mutex_);
        std::vector<MonitorToken> tokens;
        for (const auto& [token, monitor] : monitors_)
            if (monitor.first == kind) tokens.push_back(token);
        for (const MonitorToken token : tokens) {
            const auto found = monitors_.find(token); // an earlier handler may have removed it
            if (found == monitors_.end()) continue;
            const Call call = found->second.second; // a copy: the handler may remove itself
            if (call(event)) return true;
        }
        return false;
    }

    std::shared_ptr<Clock> clock_;
    mutable std::recursive_mutex mutex_;
    std::map<MonitorToken, std::pair<Kind, Call>> monitors_; // in the order installed
    MonitorToken nextToken_ = 1;
    Point pointer_;
    std::size_t strayRemovals_ = 0;
};

} // namespace zorvane::fakes
