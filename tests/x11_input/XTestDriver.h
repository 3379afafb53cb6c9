#pragma once

// Qt first: Xlib's macros clash with Qt's names.
#include <QCoreApplication>

#include "tests/x11/TestWindows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// Names other headers use; nothing below needs the macros.
#undef None
#undef Bool
#undef Status

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvane::testing {

// Another X client: it moves the pointer and types through XTest, and owns the windows that
// stand for another application's (ColouredWindow on its display).
class XTestDriver {
public:
    XTestDriver() : display_(XOpenDisplay(nullptr))
    {
        if (!display_) throw std::runtime_error("no X display");
    }
    ~XTestDriver() { XCloseDisplay(display_); }
    XTestDriver(const XTestDriver&) = delete;
    XTestDriver& operator=(const XTestDriver&) = delete;

    Display* display() const { return display_; }
    Window root() const { return DefaultRootWindow(display_); }

    // A warp moves the pointer without raw events: a starting point the monitors do not see.
    void warp(int x, int y)
    {
        XWarpPointer(display_, 0, root(), 0, 0, 0, 0, x, y);
        XSync(display_, False);
    }
    // Relative motion through XTest, as a real mouse makes it.
    void moveBy(int dx, int dy)
    {
        XTestFakeRelativeMotionEvent(display_, dx, dy, CurrentTime);
        XSync(display_, False);
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(display_, 1, down ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void typeKey(KeySym keysym)
    {
        const KeyCode code = XKeysymToKeycode(display_, keysym);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
    }

    void focus(Window window)
    {
        XRaiseWindow(display_, window);
        XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        XSync(display_, False);
    }

    // Whether the window received a press of the key within the time.
    bool receivedKeyPress(Window window, KeySym keysym, double seconds = 5)
    {
        const KeyCode code = XKeysymToKeycode(display_, keysym);
        XEvent event;
        return eventually([&] {
            while (XCheckTypedWindowEvent(display_, window, KeyPress, &event))
                if (event.xkey.keycode == code) return true;
            return false;
        }, seconds);
    }

    // Root children, bottom to top.
    std::vector<Window> stacking()
    {
        Window r, parent;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> order;
        if (XQueryTree(display_, root(), &r, &parent, &children, &count)) order.assign(children, children + count);
        if (children) XFree(children);
        return order;
    }

    // Whether the window is a viewable, monitor-sized override-redirect one: what an overlay shows.
    bool isOverlayPanel(Window window)
    {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable
            && attributes.override_redirect && attributes.width == 1440 && attributes.height == 900;
    }
    std::size_t overlayPanels()
    {
        const auto order = stacking();
        return std::count_if(order.begin(), order.end(), [this](Window w) { return isOverlayPanel(w); });
    }

private:
    Display* display_;
};

} // namespace zorvane::testing
