#pragma once

#include "app/platform/EventMonitors.h"

#include <chrono>
#include <functional>
#include <memory>

namespace zorvane {

// The keyboard for the selection overlay: an active grab of the keyboard on the root window,
// through Qt's own connection, so that no other application receives a key while a selection is
// under way. Presses are reported (Apple key codes, as EventMonitors gives them); releases are
// only swallowed. Main thread only, after the QGuiApplication exists.
class X11KeyboardGrab {
public:
    // Another client (a window manager's shortcut still held, an open menu) may hold the keyboard
    // when the overlay shows: the grab is tried again this often, for this long.
    static constexpr std::chrono::milliseconds retryInterval {25};
    static constexpr std::chrono::milliseconds retryLimit {1500};
    // After giveBack, the keys pressed during the grab keep it until they are up, at most this long.
    static constexpr std::chrono::milliseconds releaseLimit {500};

    X11KeyboardGrab();
    ~X11KeyboardGrab();
    X11KeyboardGrab(const X11KeyboardGrab&) = delete;
    X11KeyboardGrab& operator=(const X11KeyboardGrab&) = delete;

    // Takes the keyboard now, or as soon as another client lets it go within retryLimit, and
    // reports every key pressed from then on to onKeyDown until giveBack.
    void take(std::function<void(const KeyEvent&)> onKeyDown);
    // Stops reporting. The keyboard is given back once no key pressed while we held it is still
    // down (its release would reach the application under the overlay), at the latest after
    // releaseLimit; the destructor gives it back at once.
    void giveBack();
    // Whether the X server has given us the keyboard and we have not given it back yet.
    bool held() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace zorvane
