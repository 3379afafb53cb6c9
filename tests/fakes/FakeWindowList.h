#pragma once

#include "app/platform/WindowList.h"

#include <optional>
#include <vector>

namespace zorvane::fakes {

// A window list the test lays out, front to back; none: the window server gives no list.
class FakeWindowList : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() override { return windows; }
    // An ordinary window (layer 0) behind those added before.
    void addWindow(ProcessID pid, const Rect& bounds) { windows->push_back(WindowInfo {pid, 0, bounds}); }

    std::optional<std::vector<WindowInfo>> windows = std::vector<WindowInfo> {};
};

} // namespace zorvane::fakes
