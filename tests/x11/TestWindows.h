#pragma once

// Plain coloured X windows for the desktop tests, made with Xlib so the pixels are known exactly.
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

struct WindowOptions {
    bool overrideRedirect = false;
    const char* type = nullptr;            // _NET_WM_WINDOW_TYPE_… name
    bool setPID = true;                     // _NET_WM_PID; X-Resource tells the owner otherwise
    std::vector<unsigned long> strutPartial; // _NET_WM_STRUT_PARTIAL, 12 values
    std::vector<const char*> states;        // _NET_WM_STATE_… names set before mapping

    static WindowOptions ofType(const char* type, std::vector<unsigned long> strut = {})
    {
        WindowOptions o;
        o.type = type;
        o.strutPartial = std::move(strut);
        return o;
    }
    static WindowOptions unmanaged()
    {
        WindowOptions o;
        o.overrideRedirect = true;
        return o;
    }
    static WindowOptions withoutPID()
    {
        WindowOptions o;
        o.setPID = false;
        return o;
    }
    static WindowOptions inState(const char* state)
    {
        WindowOptions o;
        o.states = {state};
        return o;
    }
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
        if (options.setPID) {
            const unsigned long pid = static_cast<unsigned long>(getpid());
            XChangeProperty(display, window_, x11::atom(display, "_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(&pid), 1);
        }
        if (options.type) {
            const Atom type = x11::atom(display, options.type);
            XChangeProperty(display, window_, x11::atom(display, "_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(&type), 1);
        }
        if (!options.strutPartial.empty())
            XChangeProperty(display, window_, x11::atom(display, "_NET_WM_STRUT_PARTIAL"), XA_CARDINAL, 32,
                PropModeReplace, reinterpret_cast<const unsigned char*>(options.strutPartial.data()),
                static_cast<int>(options.strutPartial.size()));
        if (!options.states.empty()) {
            std::vector<Atom> states;
            for (const char* state : options.states) states.push_back(x11::atom(display, state));
            XChangeProperty(display, window_, x11::atom(display, "_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(states.data()), static_cast<int>(states.size()));
        }
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
    // Viewable, and framed when a window manager runs.
    bool shown(bool windowManager) const
    {
        return viewable()
            && (!windowManager || x11::readCardinals(display_, window_, "_NET_FRAME_EXTENTS").has_value());
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
