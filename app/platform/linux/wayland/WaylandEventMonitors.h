#pragma once

#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"

#include <QObject>

#include <map>
#include <memory>

namespace zorvane {

// Pointer and keyboard observation on Wayland, where a client sees input only over its own
// surfaces: local monitors get what Qt delivers to our windows; global pointer monitors get what a
// compositor helper reports (KWin's script), and nothing where there is none. The pointer's
// location is the last one seen. Main thread only.
class WaylandEventMonitors final : public QObject, public EventMonitors {
public:
    explicit WaylandEventMonitors(std::shared_ptr<Clock> clock);
    ~WaylandEventMonitors() override;

    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override;
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;
    Point currentPointerLocation() override;
    // The pointer anywhere on the desktop, as a compositor helper saw it.
    void reportGlobalPointer(const PointerMovement& movement);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::shared_ptr<Clock> clock_;
    MonitorToken next_ = 1;
    std::map<MonitorToken, std::function<void(const PointerMovement&)>> pointerMonitors_, globalPointerMonitors_;
    std::map<MonitorToken, std::function<bool(const KeyEvent&)>> keyMonitors_;
    std::optional<Point> lastPointer_;
};

} // namespace zorvane
