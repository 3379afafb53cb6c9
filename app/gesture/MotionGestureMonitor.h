#pragma once

#include "app/core/UserDefaults.h"
#include "app/gesture/MotionGestureDetector.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/MainQueue.h"

#include <functional>
#include <memory>
#include <optional>

namespace zorvane {

// Watches every pointer movement of the desktop and reports a shake through onTrigger. Lives on
// the main thread; owned through a shared_ptr (see create) because the event handlers hold it weakly.
class MotionGestureMonitor : public std::enable_shared_from_this<MotionGestureMonitor> {
public:
    // After a shake, movements are ignored for this long.
    static constexpr double triggerPause = 1.5;

    static std::shared_ptr<MotionGestureMonitor> create(
        std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<UserDefaults> defaults, std::shared_ptr<MainQueue> mainQueue);

    MotionGestureMonitor(const MotionGestureMonitor&) = delete;
    MotionGestureMonitor& operator=(const MotionGestureMonitor&) = delete;
    ~MotionGestureMonitor();

    // Called on the main queue after a shake, never from inside the event handler. Assign before start().
    std::function<void()> onTrigger;

    // Installs the global and local pointer-moved monitors, unless one is installed already.
    void start();
    // Removes both monitors; harmless when stopped.
    void stop();
    bool isStarted() const { return globalMonitor_ || localMonitor_; }

    const MotionGestureDetector& detector() const { return detector_; }

private:
    struct Token {
        explicit Token() = default;
    };

public:
    MotionGestureMonitor(Token, std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<UserDefaults> defaults,
        std::shared_ptr<MainQueue> mainQueue);

private:
    void handleMotion(const PointerMovement& movement);

    std::shared_ptr<EventMonitors> eventMonitors_;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<MainQueue> mainQueue_;

    std::optional<MonitorToken> globalMonitor_;
    std::optional<MonitorToken> localMonitor_;
    MotionGestureDetector detector_;
    std::optional<double> lastTrigger_; // uptime of the last shake reported
};

} // namespace zorvane
