#include "fakes/FakeEventMonitors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace zorvane::fakes {

namespace {
// Long enough for any handler of the core to finish; past it removal is taken to be deadlocked.
constexpr auto removalWait = std::chrono::seconds(5);
} // namespace

FakeEventMonitors::~FakeEventMonitors()
{
    EXPECT_EQ(lateHandlers_, 0u) << "a monitor's handler ran after its removal had returned";
}

MonitorToken FakeEventMonitors::add(Monitor monitor)
{
    std::lock_guard lock(mutex_);
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, std::make_shared<Monitor>(std::move(monitor)));
    return token;
}

MonitorToken FakeEventMonitors::addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    return add(Monitor {Kind::globalPointerMoved, std::move(handler), {}, {}, {}, false});
}

MonitorToken FakeEventMonitors::addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    return add(Monitor {Kind::localPointerMoved, std::move(handler), {}, {}, {}, false});
}

MonitorToken FakeEventMonitors::addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler)
{
    return add(Monitor {Kind::globalKeyDown, {}, std::move(handler), {}, {}, false});
}

MonitorToken FakeEventMonitors::addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler)
{
    return add(Monitor {Kind::localKeyDown, {}, {}, std::move(handler), {}, false});
}

void FakeEventMonitors::removeMonitor(MonitorToken token)
{
    std::unique_lock lock(mutex_);
    const auto it = monitors_.find(token);
    if (it == monitors_.end()) {
        ++strayRemovals_;
        return;
    }
    const std::shared_ptr<Monitor> monitor = it->second;
    monitors_.erase(it);
    monitor->removed = true;
    // A handler removing itself is fine; one running on another thread is waited for.
    const auto onlyThisThread = [&] {
        const auto self = std::this_thread::get_id();
        return std::all_of(monitor->runningOn.begin(), monitor->runningOn.end(), [&](auto id) { return id == self; });
    };
    if (!handlerLeft_.wait_for(lock, removalWait, onlyThisThread)) {
        ++lateHandlers_;
        ADD_FAILURE() << "removeMonitor gave up waiting for its handler on another thread (deadlock?)";
    }
}

Point FakeEventMonitors::currentPointerLocation()
{
    std::lock_guard lock(mutex_);
    return pointer_;
}

void FakeEventMonitors::setPointerLocation(Point location)
{
    std::lock_guard lock(mutex_);
    pointer_ = location;
}

void FakeEventMonitors::movePointerGlobally(Point location, std::optional<double> uptime)
{
    deliverPointerMoved(Kind::globalPointerMoved, location, uptime);
}

void FakeEventMonitors::movePointerLocally(Point location, std::optional<double> uptime)
{
    deliverPointerMoved(Kind::localPointerMoved, location, uptime);
}

std::vector<std::shared_ptr<FakeEventMonitors::Monitor>> FakeEventMonitors::snapshot(Kind kind) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Monitor>> found;
    for (const auto& [token, monitor] : monitors_)
        if (monitor->kind == kind) found.push_back(monitor);
    return found;
}

bool FakeEventMonitors::enter(const std::shared_ptr<Monitor>& monitor, const std::function<void()>& call)
{
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard lock(mutex_);
        // Re-checked before every call: a handler that removes another monitor keeps it from running.
        if (monitor->removed) return false;
        monitor->runningOn.push_back(self);
    }
    call();
    {
        std::lock_guard lock(mutex_);
        auto& running = monitor->runningOn;
        running.erase(std::find(running.begin(), running.end(), self));
    }
    handlerLeft_.notify_all();
    return true;
}

void FakeEventMonitors::deliverPointerMoved(Kind kind, Point location, std::optional<double> uptime)
{
    setPointerLocation(location);
    const PointerMovement movement {location, uptime ? *uptime : clock_ ? clock_->uptime() : 0.0};
    for (const auto& monitor : snapshot(kind)) enter(monitor, [&] { monitor->pointerHandler(movement); });
}

void FakeEventMonitors::deliverGlobalKeyDown(KeyEvent event)
{
    for (const auto& monitor : snapshot(Kind::globalKeyDown)) enter(monitor, [&] { monitor->globalKeyHandler(event); });
}

bool FakeEventMonitors::deliverLocalKeyDown(KeyEvent event)
{
    for (const auto& monitor : snapshot(Kind::localKeyDown)) {
        bool swallowed = false;
        enter(monitor, [&] { swallowed = monitor->localKeyHandler(event); });
        if (swallowed) return true;
    }
    return false;
}

std::size_t FakeEventMonitors::count(Kind kind) const
{
    return snapshot(kind).size();
}

std::size_t FakeEventMonitors::globalPointerMovedMonitorCount() const { return count(Kind::globalPointerMoved); }
std::size_t FakeEventMonitors::localPointerMovedMonitorCount() const { return count(Kind::localPointerMoved); }

std::size_t FakeEventMonitors::installedMonitorCount() const
{
    std::lock_guard lock(mutex_);
    return monitors_.size();
}

std::size_t FakeEventMonitors::strayRemovalCount() const
{
    std::lock_guard lock(mutex_);
    return strayRemovals_;
}

std::size_t FakeEventMonitors::lateHandlerCount() const
{
    std::lock_guard lock(mutex_);
    return lateHandlers_;
}

} // namespace zorvane::fakes
