#pragma once

#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/MainQueue.h"
#include "app/platform/linux/x11/X11Screens.h"

#include <functional>
#include <memory>
#include <optional>

namespace zorvane {

// Global pointer and key observation without grabbing anything: XInput 2.2 raw events on the
// root window, read on a thread of its own over a connection of its own. Raw motion is selected
// only while a pointer-moved monitor is installed and raw key presses only while a global key
// monitor is: without them no movement or keystroke anywhere on the desktop reaches us (the
// thread sleeps in poll() with no timeout). Every handler runs on the main thread through the
// main queue. Motion is sampled at most `sampleRate` times a second while the pointer moves and
// not at all when it rests; samples the main thread has not taken yet wait in a single queued
// task, so a burst never piles up tasks, and each keeps the time it was taken.
//
// "Local" means the event concerns one of this process's own windows (those of the Qt
// connection), "global" any other; an event reaches one kind, never both. Local key presses are
// taken from Qt's own key events, so a local handler can swallow one; global ones are only
// observed and still reach the application they were meant for.
class X11EventMonitors final : public EventMonitors {
public:
    static constexpr double sampleRate = 120;

    // Movements are converted to points with monitors read at most this long ago; the pointer's
    // current location always with monitors read afresh.
    static constexpr double monitorLayoutLifetime = 0.5;

    // Builds the monitors for the display of $DISPLAY; `screens` converts root pixels to Quartz
    // points. Call on the main thread, after the QGuiApplication exists (it tells our windows
    // apart from others).
    static std::shared_ptr<X11EventMonitors> create(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock,
        std::shared_ptr<X11Screens> screens);
    ~X11EventMonitors() override;

    X11EventMonitors(const X11EventMonitors&) = delete;
    X11EventMonitors& operator=(const X11EventMonitors&) = delete;

    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override;
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override;
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;
    Point currentPointerLocation() override;

    // False when the display offers no XInput 2.2: no global movement or key is ever reported.
    bool watchesRawInput() const;

    // The Apple virtual key code of an X keysym, or none for keys the core has no number for.
    static std::optional<int> appleKeyCode(unsigned long keysym);

    struct State;

private:
    explicit X11EventMonitors(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

} // namespace zorvane
