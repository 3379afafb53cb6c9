#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvane {

// Our own application's windows, for raising one of them above other applications.
class ApplicationWindows {
public:
    struct Window {
        std::uint64_t handle = 0;
        std::string title;
        std::string identifier;
        bool isVisible = false;
    };

    virtual ~ApplicationWindows() = default;
    virtual void activateIgnoringOtherApps() = 0;
    // In the window system's order.
    virtual std::vector<Window> windows() = 0;
    virtual void orderFrontRegardlessAndMakeKey(std::uint64_t handle) = 0;
};

} // namespace zorvane
