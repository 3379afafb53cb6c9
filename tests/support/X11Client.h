#pragma once

// Another X client on the session's display, as a user's hand and other applications: it moves
// the pointer and types through XTest (raw input events, as real devices make them), shows plain
// coloured windows whose pixels are known exactly, and finds the windows on screen. Free of Xlib's
// macros, so it may be included before or after Qt.

#include <cstdint>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace zorvane::testing {

using XWindow = unsigned long;

struct WindowOnScreen {
    XWindow id = 0;
    int x = 0, y = 0, width = 0, height = 0; // root pixels
    bool overrideRedirect = false;
    std::string name;
};

class X11Client {
public:
    X11Client(); // on $DISPLAY; throws when it cannot connect
    ~X11Client();
    X11Client(const X11Client&) = delete;
    X11Client& operator=(const X11Client&) = delete;

    Display* display() const { return display_; }

    void warp(int x, int y); // moves the pointer without raw events: a start the monitors do not see
    void moveTo(int x, int y);
    void moveBy(int dx, int dy);
    void button(bool down);
    void click();
    void typeKey(const char* keysym); // "Escape", "Return"…
    void focus(XWindow window);
    XWindow focused() const;
    // Whether the window (one of this client's) received a press of the key within the time;
    // `others` counts the presses of other keys it received before it.
    bool receivedKeyPress(XWindow window, const char* keysym, double seconds = 5, int* others = nullptr);
    // Whether no other client holds the keyboard now (it is taken for a moment and given back).
    bool keyboardFree() const;

    std::uint32_t pixel(int x, int y) const; // 0xRRGGBB on screen
    bool selectionOwned(const char* selection) const;
    // The viewable windows, bottom to top; with wholeTree also every window inside them (a window
    // manager's frames, a tray's icons), each after its parent.
    std::vector<WindowOnScreen> windows(bool wholeTree = true) const;

private:
    Display* display_;
};

struct WindowOptions {
    bool overrideRedirect = false;
    const char* type = nullptr;                   // _NET_WM_WINDOW_TYPE_… name
    bool setPID = true;                           // _NET_WM_PID; X-Resource tells the owner otherwise
    std::vector<unsigned long> strutPartial = {}; // _NET_WM_STRUT_PARTIAL, 12 values
    std::vector<const char*> states = {};         // _NET_WM_STATE_… names set before mapping
};

// A plain window of one colour (0xRRGGBB), placed where asked also under a window manager.
class ColouredWindow {
public:
    ColouredWindow(Display* display, const std::string& name, std::uint32_t rgb, int x, int y, int width, int height,
        WindowOptions options = {});
    ~ColouredWindow();
    ColouredWindow(const ColouredWindow&) = delete;
    ColouredWindow& operator=(const ColouredWindow&) = delete;

    XWindow id() const { return window_; }
    bool viewable() const;
    bool framed() const; // viewable and inside the window manager's frame

private:
    Display* display_;
    XWindow window_ = 0;
};

} // namespace zorvane::testing
