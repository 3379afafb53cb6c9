#include "fakes/FakeEventMonitors.h"

#include <vector>

namespace zorvane::fakes {

MonitorToken FakeEventMonitors::add(Monitor monitor)
{
    std::lock_guard lock(mutex_);
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, std::move(monitor));
    return token;
}

MonitorToken FakeEventMonitors::addGlobalPointerMovedMonitor(std::function<void()> handler)
{
    return add(Monitor {Kind::globalPointerMoved, std::move(handler), {}, {}});
}

MonitorToken FakeEventMonitors::addLocalPointerMovedMonitor(std::function<void()> handler)
{
    return add(Monitor {Kind::localPointerMoved, std::move(handler), {}, {}});
}

MonitorToken FakeEventMonitors::addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler)
{
    return add(Monitor {Kind::globalKeyDown, {}, std::move(handler), {}});
}

MonitorToken FakeEventMonitors::addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler)
{
    return add(Monitor {Kind::localKeyDown, {}, {}, std::move(handler)});
}

void FakeEventMonitors::removeMonitor(MonitorToken token)
{
    std::lock_guard lock(mutex_);
    if (monitors_.erase(token) == 0) ++strayRemovals_;
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

void FakeEventMonitors::movePointerGlobally(Point location)
{
    setPointerLocation(location);
    deliverPointerMoved(Kind::globalPointerMoved);
}

void FakeEventMonitors::movePointerLocally(Point location)
{
    setPointerLocation(location);
    deliverPointerMoved(Kind::localPointerMoved);
}

bool FakeEventMonitors::lookUp(MonitorToken token, Monitor& out) const
{
    std::lock_guard lock(mutex_);
    const auto it = monitors_.find(token);
    if (it == monitors_.end()) return false;
    out = it->second;
    return true;
}

namespace {
template <typename Map, typename Kind>
std::vector<MonitorToken> tokensOf(const Map& monitors, Kind kind)
{
    std::vector<MonitorToken> tokens;
    for (const auto& [token, monitor] : monitors)
        if (monitor.kind == kind) tokens.push_back(token);
    return tokens;
}
} // namespace

void FakeEventMonitors::deliverPointerMoved(Kind kind)
{
    std::vector<MonitorToken> tokens;
    {
        std::lock_guard lock(mutex_);
        tokens = tokensOf(monitors_, kind);
    }
    for (const MonitorToken token : tokens) {
        Monitor monitor;
        if (lookUp(token, monitor) && monitor.pointerHandler) monitor.pointerHandler();
    }
}

void FakeEventMonitors::deliverGlobalKeyDown(KeyEvent event)
{
    std::vector<MonitorToken> tokens;
    {
        std::lock_guard lock(mutex_);
        tokens = tokensOf(monitors_, Kind::globalKeyDown);
    }
    for (const MonitorToken token : tokens) {
        Monitor monitor;
        if (lookUp(token, monitor) && monitor.globalKeyHandler) monitor.globalKeyHandler(event);
    }
}

bool FakeEventMonitors::deliverLocalKeyDown(KeyEvent event)
{
    std::vector<MonitorToken> tokens;
    {
        std::lock_guard lock(mutex_);
        tokens = tokensOf(monitors_, Kind::localKeyDown);
    }
    for (const MonitorToken token : tokens) {
        Monitor monitor;
        if (!lookUp(token, monitor)) continue;
        if (monitor.localKeyHandler && monitor.localKeyHandler(event)) return true;
    }
    return false;
}

std::size_t FakeEventMonitors::count(Kind kind) const
{
    std::lock_guard lock(mutex_);
    return tokensOf(monitors_, kind).size();
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

} // namespace zorvane::fakes
