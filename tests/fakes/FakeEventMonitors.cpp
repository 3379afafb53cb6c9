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
    ++pointerQueries_;
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
    deliverGlobalPointerMoved();
}

void FakeEventMonitors::movePointerLocally(Point location)
{
    setPointerLocation(location);
    deliverLocalPointerMoved();
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

std::size_t FakeEventMonitors::deliverPointerMoved(Kind kind)
{
    std::vector<MonitorToken> tokens;
    {
        std::lock_guard lock(mutex_);
        tokens = tokensOf(monitors_, kind);
    }
    std::size_t ran = 0;
    for (const MonitorToken token : tokens) {
        Monitor monitor;
        if (!lookUp(token, monitor)) continue;
        if (monitor.pointerHandler) monitor.pointerHandler();
        ++ran;
    }
    return ran;
}

std::size_t FakeEventMonitors::deliverGlobalPointerMoved()
{
    return deliverPointerMoved(Kind::globalPointerMoved);
}

std::size_t FakeEventMonitors::deliverLocalPointerMoved()
{
    return deliverPointerMoved(Kind::localPointerMoved);
}

std::size_t FakeEventMonitors::deliverGlobalKeyDown(KeyEvent event)
{
    std::vector<MonitorToken> tokens;
    {
        std::lock_guard lock(mutex_);
        tokens = tokensOf(monitors_, Kind::globalKeyDown);
    }
    std::size_t ran = 0;
    for (const MonitorToken token : tokens) {
        Monitor monitor;
        if (!lookUp(token, monitor)) continue;
        if (monitor.globalKeyHandler) monitor.globalKeyHandler(event);
        ++ran;
    }
    return ran;
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
std::size_t FakeEventMonitors::globalKeyDownMonitorCount() const { return count(Kind::globalKeyDown); }
std::size_t FakeEventMonitors::localKeyDownMonitorCount() const { return count(Kind::localKeyDown); }

std::size_t FakeEventMonitors::installedMonitorCount() const
{
    std::lock_guard lock(mutex_);
    return monitors_.size();
}

bool FakeEventMonitors::isInstalled(MonitorToken token) const
{
    std::lock_guard lock(mutex_);
    return monitors_.count(token) != 0;
}

std::size_t FakeEventMonitors::strayRemovalCount() const
{
    std::lock_guard lock(mutex_);
    return strayRemovals_;
}

std::size_t FakeEventMonitors::pointerLocationQueryCount() const
{
    std::lock_guard lock(mutex_);
    return pointerQueries_;
}

} // namespace zorvane::fakes
