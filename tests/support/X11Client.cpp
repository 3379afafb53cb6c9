#include "tests/support/X11Client.h"

#include "tests/support/Processes.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <unistd.h>

#include <stdexcept>

namespace zorvane::testing {
namespace {

Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

std::string nameOf(Display* d, Window w)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(d, w, atom(d, "_NET_WM_NAME"), 0, 1024, False, AnyPropertyType, &type, &format, &count, &after, &data)
            == Success
        && data)
        name.assign(reinterpret_cast<char*>(data), count);
    if (data) XFree(data);
    char* plain = nullptr;
    if (name.empty() && XFetchName(d, w, &plain) && plain) name = plain;
    if (plain) XFree(plain);
    return name;
}

void collect(Display* d, Window parent, int x, int y, bool wholeTree, std::vector<WindowOnScreen>& found)
{
    Window root = 0, up = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, parent, &root, &up, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        const WindowOnScreen w {children[i], x + a.x + a.border_width, y + a.y + a.border_width, a.width, a.height,
            a.override_redirect != 0, nameOf(d, children[i])};
        found.push_back(w);
        if (wholeTree) collect(d, children[i], w.x, w.y, true, found);
    }
    if (children) XFree(children);
}

} // namespace

X11Client::X11Client() : display_(XOpenDisplay(nullptr))
{
    if (!display_) throw std::runtime_error("X11Client: no X display");
}

X11Client::~X11Client() { XCloseDisplay(display_); }

XWindow X11Client::root() const { return DefaultRootWindow(display_); }

void X11Client::warp(int x, int y)
{
    XWarpPointer(display_, 0, root(), 0, 0, 0, 0, x, y);
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

bool X11Client::receivedKeyPress(XWindow window, const char* keysym, double seconds)
{
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym));
    XEvent event;
    return waitUntil(seconds, [&] {
        while (XCheckTypedWindowEvent(display_, window, KeyPress, &event))
            if (event.xkey.keycode == code) return true;
        return false;
    });
}

std::vector<WindowOnScreen> X11Client::windows(bool wholeTree) const
{
    // Windows may close during the walk: their errors are no failure.
    const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    std::vector<WindowOnScreen> found;
    collect(display_, root(), 0, 0, wholeTree, found);
    XSync(display_, False);
    XSetErrorHandler(previous);
    return found;
}

ColouredWindow::ColouredWindow(Display* display, const std::string& name, std::uint32_t rgb, int x, int y, int width,
    int height, WindowOptions options)
    : display_(display)
{
    XSetWindowAttributes attributes {};
    attributes.background_pixel = rgb;
    attributes.override_redirect = options.overrideRedirect;
    window_ = XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect,
        &attributes);
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
            XChangeProperty(display, window_, atom(display, property), type, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
    };
    std::vector<unsigned long> states;
    for (const char* state : options.states) states.push_back(atom(display, state));
    set("_NET_WM_STATE", XA_ATOM, states);
    set("_NET_WM_STRUT_PARTIAL", XA_CARDINAL, options.strutPartial);
    if (options.setPID) set("_NET_WM_PID", XA_CARDINAL, {static_cast<unsigned long>(getpid())});
    if (options.type) set("_NET_WM_WINDOW_TYPE", XA_ATOM, {atom(display, options.type)});
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
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display_, window_, atom(display_, "_NET_FRAME_EXTENTS"), 0, 4, False, XA_CARDINAL, &type, &format,
        &count, &after, &data);
    if (data) XFree(data);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(display_, window_, &root, &parent, &children, &n) && children) XFree(children);
    return viewable() && count == 4 && parent != root;
}

} // namespace zorvane::testing
