#pragma once

// Plain coloured X windows for the desktop tests, made with Xlib so the pixels are known exactly.
#include "tests/support/DesktopSession.h"

#include <gtest/gtest.h>

#include "app/platform/linux/x11/X11Support.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::testing {

inline bool eventually(const std::function<bool()>& condition, double seconds = 5)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A suite on one private two-monitor desktop, with or without a window manager.
template <bool WindowManager>
class DesktopSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session = new DesktopSession({.twoMonitors = true, .windowManager = WindowManager, .accessibilityBus = false});
        display = x11::openDisplay().release();
    }
    static void TearDownTestSuite()
    {
        x11::DisplayPtr closing(display);
        closing.reset();
        delete session;
    }

    static inline DesktopSession* session = nullptr;
    static inline Display* display = nullptr;
};

struct WindowOptions {
    bool overrideRedirect = false;
    const char* type = nullptr;            // _NET_WM_WINDOW_TYPE_… name
    bool setPID = true;                     // _NET_WM_PID; X-Resource tells the owner otherwise
    std::vector<unsigned long> strutPartial {}; // _NET_WM_STRUT_PARTIAL, 12 values
    std::vector<const char*> states {};     // _NET_WM_STATE_… names set before mapping
};

class ColouredWindow {
public:
    ColouredWindow(Display* display, const std::string& name, std::uint32_t rgb, int x, int y, int width, int height,
        WindowOptions options = {})
        : display_(display)
    {
        XSetWindowAttributes attributes {};
        attributes.background_pixel = rgb;
        attributes.override_redirect = options.overrideRedirect;
        window_ = XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
            CWBackPixel | CWOverrideRedirect, &attributes);
        XStoreName(display, window_, name.c_str());
        // Placed where asked, also under a window manager.
        XSizeHints hints {};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
        XSetWMNormalHints(display, window_, &hints);
        XSelectInput(display, window_, KeyPressMask); // for the key presses it receives
        const auto set = [&](const char* property, Atom type, const std::vector<unsigned long>& values) {
            if (!values.empty())
                XChangeProperty(display, window_, x11::atom(display, property), type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
        };
        std::vector<unsigned long> states;
        for (const char* state : options.states) states.push_back(x11::atom(display, state));
        set("_NET_WM_STATE", XA_ATOM, states);
        set("_NET_WM_STRUT_PARTIAL", XA_CARDINAL, options.strutPartial);
        if (options.setPID) set("_NET_WM_PID", XA_CARDINAL, {static_cast<unsigned long>(getpid())});
        if (options.type) set("_NET_WM_WINDOW_TYPE", XA_ATOM, {x11::atom(display, options.type)});
        XMapWindow(display, window_);
        XSync(display, False);
    }
    ~ColouredWindow()
    {
        XDestroyWindow(display_, window_);
        XSync(display_, False);
    }
    ColouredWindow(const ColouredWindow&) = delete;
    ColouredWindow& operator=(const ColouredWindow&) = delete;

    Window id() const { return window_; }
    bool viewable() const
    {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, window_, &attributes) && attributes.map_state == IsViewable;
    }
    // Viewable and framed by the window manager.
    bool framed() const
    {
        return viewable() && x11::readCardinals(display_, window_, "_NET_FRAME_EXTENTS").has_value();
    }

private:
    Display* display_;
    Window window_ = 0;
};

// 0xRRGGBB of one pixel of a blue-green-red-unused image.
template <class Image>
std::uint32_t pixelAt(const Image& image, std::uint32_t x, std::uint32_t y)
{
    const std::uint8_t* p = image.pixels.data() + y * image.stride + x * 4;
    return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

} // namespace zorvane::testing
