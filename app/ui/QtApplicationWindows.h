#pragma once

#include "app/platform/ApplicationWindows.h"

namespace zorvane::ui {

// Our own top-level Qt windows, for raising one of them (the settings) above other applications.
// A window's handle is its native window id; its identifier is its object name.
class QtApplicationWindows final : public ApplicationWindows {
public:
    // X11 has no application-wide activation: a window is activated when it is raised.
    void activateIgnoringOtherApps() override {}
    std::vector<Window> windows() override;
    // Restores a minimized window, shows and raises it and asks the window manager for the focus.
    void orderFrontRegardlessAndMakeKey(std::uint64_t handle) override;
};

} // namespace zorvane::ui
