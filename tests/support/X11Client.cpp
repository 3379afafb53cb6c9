#include "tests/support/X11Client.h"

#include "app/platform/linux/x11/X11Support.h"
#include "tests/support/Processes.h"

#include <X11/extensions/XTest.h>

#include <unistd.h>

#include <stdexcept>

namespace zorvane::testing {
namespace {

void collect(Display* d, Window parent, int x, int y, bool wholeTree, std::vector<WindowOnScreen>& found)
{
    Window root = 0, up = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, parent, &root, &up, &children, &count);
    const x11::XPtr<Window> owned(children);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        found.push_back({children[i], x + a.x + a.border_width, y + a.y + a.border_width, a.width, a.height,
            a.override_redirect != 0, x11::windowName(d, children[i]).value_or("")});
        if (wholeTree) collect(d, children[i], found.back().x, found.back().y, true, found);
    }
}

} // namespace

X11Client::X11Client() : display_(XOpenDisplay(nullptr))
{
    if (!display_) throw std::runtime_error("X11Client: no X display");
}

X11Client::~X11Client() { XCloseDisplay(display_); }

void X11Client::warp(int x, int y)
{
    XWarpPointer(display_, 0, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
    XSync(display_, False);
}

void X11Client::moveTo(int x, int y)
{
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
}

void X11Client::moveBy(int dx, int dy)
{
    XTestFakeRelativeMotionEvent(display_, dx, dy, CurrentTime);
    XSync(display_, False);
}

void X11Client::button(bool down)
{
    XTestFakeButtonEvent(display_, 1, down, CurrentTime);
    XSync(display_, False);
}

void X11Client::click()
{
    button(true);
    button(false);
}

void X11Client::typeKey(const char* keysym)
{
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym));
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
}

void X11Client::focus(XWindow window)
{
    XRaiseWindow(display_, window);
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
}

XWindow X11Client::focused() const
{
    Window window = 0;
    int revert = 0;
    XGetInputFocus(display_, &window, &revert);
    return window;
}

bool X11Client::receivedKeyPress(XWindow window, const char* keysym, double seconds, int* others)
{
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym));
    XEvent event;
    return waitUntil(seconds, [&] {
        while (XCheckTypedWindowEvent(display_, window, KeyPress, &event)) {
            if (event.xkey.keycode == code) return true;
            if (others) ++*others;
        }
        return false;
    });
}

bool X11Client::keyboardFree() const
{
    const bool free = XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
    if (free) XUngrabKeyboard(display_, CurrentTime);
    XSync(display_, False);
    return free;
}

std::uint32_t X11Client::pixel(int x, int y) const
{
    const x11::ImagePtr image(XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap));
    return image ? std::uint32_t(XGetPixel(image.get(), 0, 0) & 0xffffff) : 0;
}

bool X11Client::selectionOwned(const char* selection) const
{
    return XGetSelectionOwner(display_, x11::atom(display_, selection)) != 0;
}

std::vector<WindowOnScreen> X11Client::windows(bool wholeTree) const
{
    // Windows may close during the walk: that is no failure.
    x11::ErrorTrap closing(display_);
    std::vector<WindowOnScreen> found;
    collect(display_, DefaultRootWindow(display_), 0, 0, wholeTree, found);
    return found;
}

ColouredWindow::ColouredWindow(Display* display, const std::string& name, std::uint32_t rgb, int x, int y, int width,
    int height, WindowOptions options)
    : display_(display)
{
    XSetWindowAttributes attributes {};
    attributes.background_pixel = rgb;
    attributes.override_redirect = options.overrideRedirect;
    window_ = XCreateWindow(display, DefaultRootWindow(display), x, y, unsigned(width), unsigned(height), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
    XStoreName(display, window_, name.c_str());
    XSizeHints hints {};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(display, window_, &hints);
    XSelectInput(display, window_, KeyPressMask);
    const auto set = [&](const char* property, Atom type, const std::vector<unsigned long>& values) {
        if (!values.empty())
            XChangeProperty(display, window_, x11::atom(display, property), type, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(values.data()), int(values.size()));
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

ColouredWindow::~ColouredWindow()
{
    XDestroyWindow(display_, window_);
    XSync(display_, False);
}

bool ColouredWindow::viewable() const
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window_, &attributes) && attributes.map_state == IsViewable;
}

bool ColouredWindow::framed() const
{
    const auto frame = x11::topLevelAncestor(display_, window_);
    return viewable() && x11::readCardinals(display_, window_, "_NET_FRAME_EXTENTS") && frame && *frame != window_;
}

} // namespace zorvane::testing
