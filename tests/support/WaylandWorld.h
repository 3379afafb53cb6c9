#pragma once

#include "tests/support/Processes.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::testing {

enum class WaylandDesktop { sway, kwin, gnome };

// A private Wayland desktop for one test program: the compositor headless with two outputs side by
// side (sway and GNOME Shell: 1280×800 and 1024×768; KWin: two of 1280×800), a session bus with
// PipeWire, the desktop's screenshot portal and the accessibility bus, a temporary HOME and
// XDG_RUNTIME_DIR. While it lives this process's environment points at it; the destructor stops
// every process it started, by process id, and removes its folders. sway refuses to run as root:
// it runs as "nobody" in a runtime folder of its own. KWin runs from a copy without the file
// capability it cannot use here. GNOME Shell runs in unsafe mode, so the harness may look at it.
// Throws std::runtime_error when the desktop does not start. Create it on a thread that outlives it.
class WaylandWorld {
public:
    // beforeDesktop: runs in the world's environment (home, session bus) before the compositor starts.
    explicit WaylandWorld(WaylandDesktop desktop, const std::function<void()>& beforeDesktop = {});
    ~WaylandWorld();
    WaylandWorld(const WaylandWorld&) = delete;
    WaylandWorld& operator=(const WaylandWorld&) = delete;

    std::filesystem::path home() const { return home_; }
    Processes& processes() { return *processes_; }
    pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra = {});
    struct Output {
        int x, y, width, height;
    };
    // The outputs in the layout, left to right.
    std::vector<Output> outputs() const;

    // GNOME's remembered answer to whether programs may take screenshots, as a user gave it once
    // (the world's own permission store); none: not asked yet.
    void rememberScreenshotAnswer(std::optional<bool> allowed);
    // A window filling the first output in one colour (GTK 3), as another application.
    pid_t startColourWindow(const std::string& hexColour);

    // The whole layout as a PNG in ZORVANE_SCREENSHOT_DIR when set, else in HOME; empty on failure.
    std::filesystem::path screenshot(const std::string& name);
    // The colour of one pixel of the layout (0xRRGGBB), from a new screenshot.
    std::optional<std::uint32_t> pixel(int x, int y);

    // Input as a person gives it, in layout coordinates. One virtual pointer and keyboard live as
    // long as the world (the first key after a keyboard appears is lost to Qt).
    void pointerTo(int x, int y);
    void button(bool pressed);
    // ASCII letters, digits, spaces and "Return"/"Escape" typed as keys; with Ctrl and Alt held.
    void type(const std::string& text);
    void key(const std::string& name, bool ctrlAlt = false);

    struct Input;

private:
    void startSway();
    void startKWin();
    void startGnome();
    std::string busAddress(const std::filesystem::path& socket);
    void shell(const std::string& script);

    WaylandDesktop desktop_;
    std::filesystem::path root_, home_, runtimeDir_;
    ScopedEnvironment environment_;
    std::optional<Processes> processes_;
    std::unique_ptr<Input> input_;
};

} // namespace zorvane::testing
