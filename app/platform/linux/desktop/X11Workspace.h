#pragma once

#include "app/platform/Workspace.h"

#include <filesystem>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace zorvane {

// The desktop around us on X11: the frontmost application from the window manager's active
// window, and opening things through the desktop's own tools (xdg-open, the browsers' launcher
// entries, the file manager's D-Bus interface). Nothing here waits for a program to finish.
// Main thread only (revealing a file answers on its event loop).
class X11Workspace final : public Workspace {
public:
    X11Workspace();
    ~X11Workspace() override;

    X11Workspace(const X11Workspace&) = delete;
    X11Workspace& operator=(const X11Workspace&) = delete;

    std::optional<std::string> frontmostApplicationIdentifier() override;
    std::optional<ProcessID> frontmostApplicationProcessID() override;
    std::optional<std::string> applicationIdentifierOfProcess(ProcessID process) override;
    bool openURL(const std::string& url) override;
    bool openURLWithApplication(const std::string& url, const std::string& applicationIdentifier) override;
    bool revealFile(const std::filesystem::path& path) override;
    bool isApplicationInstalled(const std::string& applicationIdentifier) override;

    // The identifier for a window's class and its program's executable path: the browsers the
    // bridge knows get theirs, anything else one of its own that is never one of those.
    static std::optional<std::string> applicationIdentifier(const std::string& windowClass, const std::string& executable);

    // The command that shows the settings page standing for a system-settings URL on the given
    // desktop ($XDG_CURRENT_DESKTOP), or none when that desktop has no such page.
    static std::optional<std::vector<std::string>> settingsCommand(const std::string& url, const std::string& currentDesktop);

    // The argument list of a launcher entry's Exec line with the URL put in place of its field
    // codes (appended when it has none); none when the line cannot be parsed.
    static std::optional<std::vector<std::string>> execArguments(const std::string& exec, const std::string& url);

private:
    struct ActiveWindow {
        std::string windowClass;
        std::optional<std::uint32_t> pid;
    };
    std::optional<ActiveWindow> activeWindow();
    xcb_connection_t* connection();
    xcb_connection_t* connection_ = nullptr;
};

} // namespace zorvane
