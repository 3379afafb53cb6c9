#pragma once

#include "app/core/Geometry.h"
#include "tests/support/DesktopSession.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace zorvane::testing {

// Where a test application put its widgets, in root pixels, as the toolkit itself reports them.
using WidgetRects = std::map<std::string, Rect>;

struct TestApplication {
    pid_t pid = -1;
    WidgetRects widgets; // "window", "button", "picture", "link", "text"
};

// A desktop with the accessibility bus and the three kinds of application the adapter is tested on.
class AtspiDesktop {
public:
    DesktopSession& session() { return session_; }

    // A GTK 3 or Qt 6 window with a button, a picture, a link-like label and a multi-line text in
    // nested panels; none when it did not come up. alwaysOn: Qt exposes its tree whatever the
    // session's switch says.
    std::optional<TestApplication> startGtk(const std::string& title);
    std::optional<TestApplication> startQt(const std::string& title, bool alwaysOn = true);
    // Chromium showing a local page with a picture at (40, 40) 240×160, a paragraph at (40, 240)
    // 420 wide and a button at (40, 420) 160×40, in a window at the top-left of the right-hand monitor.
    pid_t startChromium();

private:
    std::optional<TestApplication> waitForReport(pid_t pid, const std::filesystem::path& report);

    DesktopSession session_;
    int started_ = 0;
};

Point centre(const Rect& r);

} // namespace zorvane::testing
