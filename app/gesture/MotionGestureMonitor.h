#pragma once

#include "app/core/UserDefaults.h"
#include "app/gesture/MotionGestureDetector.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/MainQueue.h"

#include <functional>
#include <memory>
#include <optional>

namespace zorvane {

// Watches every pointer movement of the desktop and reports a shake through onTrigger, while the
// shake is switched on in the settings: switched off, no pointer monitor is installed at all (a
// global one costs a wake-up per movement anywhere). Lives on the main thread; owned through a
// shared_ptr (see create) because the event handlers hold it weakly.
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

    // Starts following the setting: the global and local pointer-moved monitors are installed
    // whenever the shake is on. Harmless when started.
    void start();
    // Removes both monitors and stops following the setting; harmless when stopped.
    void stop();
    bool isStarted() const { return started_; }
    // Whether the pointer is being watched now (started, with the shake on).
    bool isWatching() const { return globalMonitor_ || localMonitor_; }

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
    // Installs or removes the monitors as the setting says now.
    void follow();
    void installMonitors();
    void removeMonitors();

    std::shared_ptr<EventMonitors> eventMonitors_;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<MainQueue> mainQueue_;

    bool started_ = false;
    std::optional<UserDefaults::ObserverToken> settingsObserver_;
    std::optional<MonitorToken> globalMonitor_;
    std::optional<MonitorToken> localMonitor_;
    MotionGestureDetector detector_;
    std::optional<double> lastTrigger_; // uptime of the last shake reported
};

} // namespace zorvane
