#include "app/platform/linux/wayland/WaylandEventMonitors.h"

#include "app/platform/linux/wayland/WaylandScreens.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace zorvane {

WaylandEventMonitors::WaylandEventMonitors(std::shared_ptr<Clock> clock) : clock_(std::move(clock))
{
    if (auto* application = QCoreApplication::instance()) application->installEventFilter(this);
}

WaylandEventMonitors::~WaylandEventMonitors()
{
    if (auto* application = QCoreApplication::instance()) application->removeEventFilter(this);
}

MonitorToken WaylandEventMonitors::addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    globalPointerMonitors_.emplace(next_, std::move(handler));
    return next_++;
}

void WaylandEventMonitors::reportGlobalPointer(const PointerMovement& movement)
{
    lastPointer_ = movement.location;
    auto monitors = globalPointerMonitors_; // a handler may remove monitors
    for (auto& [token, handler] : monitors)
        if (globalPointerMonitors_.count(token)) handler(movement);
}

MonitorToken WaylandEventMonitors::addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    pointerMonitors_.emplace(next_, std::move(handler));
    return next_++;
}

MonitorToken WaylandEventMonitors::addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)>) { return next_++; }

MonitorToken WaylandEventMonitors::addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler)
{
    keyMonitors_.emplace(next_, std::move(handler));
    return next_++;
}

void WaylandEventMonitors::removeMonitor(MonitorToken token)
{
    pointerMonitors_.erase(token);
    globalPointerMonitors_.erase(token);
    keyMonitors_.erase(token);
}

Point WaylandEventMonitors::currentPointerLocation()
{
    if (lastPointer_) return *lastPointer_;
    // Until the pointer has crossed one of our surfaces: the middle of the primary screen.
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect r = primary ? primary->geometry() : QRect();
    return WaylandScreens::quartzPoint(r.center().x(), r.center().y());
}

bool WaylandEventMonitors::eventFilter(QObject* watched, QEvent* event)
{
    // Only what reaches our windows themselves, once (widgets see the same event again).
    if (!qobject_cast<QWindow*>(watched)) return false;
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        const auto* pointer = static_cast<QSinglePointEvent*>(event);
        const QPointF global = pointer->globalPosition();
        const Point location = WaylandScreens::quartzPoint(global.x(), global.y());
        lastPointer_ = location;
        const PointerMovement movement {location, clock_->uptime()};
        auto monitors = pointerMonitors_; // a handler may remove monitors
        for (auto& [token, handler] : monitors)
            if (pointerMonitors_.count(token)) handler(movement);
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto monitors = keyMonitors_;
        bool swallowed = false;
        for (auto& [token, handler] : monitors)
            if (keyMonitors_.count(token) && handler(KeyEvent {KeyEvent::escape})) swallowed = true;
        return swallowed;
    }
    return false;
}

} // namespace zorvane
