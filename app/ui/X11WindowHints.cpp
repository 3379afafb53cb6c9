#include "app/ui/X11WindowHints.h"

#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <vector>

// Xlib after Qt (macro clashes).
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zorvane::ui::X11WindowHints {
namespace {

Display* display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

void sendClientMessage(Display* d, Window window, const char* type, long a0, long a1, long a2, long a3)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom(d, type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = a0;
    event.xclient.data.l[1] = a1;
    event.xclient.data.l[2] = a2;
    event.xclient.data.l[3] = a3;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

} // namespace

void prepare(QWidget* window, bool inTaskBar, bool onAllWorkspaces)
{
    Display* d = display();
    if (!d || !window) return;
    const Window id = static_cast<Window>(window->winId());
    std::vector<Atom> wanted;
    if (!inTaskBar) {
        wanted.push_back(atom(d, "_NET_WM_STATE_SKIP_TASKBAR"));
        wanted.push_back(atom(d, "_NET_WM_STATE_SKIP_PAGER"));
    }
    if (onAllWorkspaces) {
        wanted.push_back(atom(d, "_NET_WM_STATE_STICKY"));
        const unsigned long all = 0xFFFFFFFFul;
        XChangeProperty(d, id, atom(d, "_NET_WM_DESKTOP"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&all), 1);
    }
    wanted.push_back(atom(d, "_NET_WM_STATE_ABOVE"));
    // Merged with what the window has: called again before each show, because window managers
    // drop the state of a window they withdrew.
    const Atom stateAtom = atom(d, "_NET_WM_STATE");
    std::vector<Atom> states;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, id, stateAtom, 0, 64, False, XA_ATOM, &type, &format, &count, &after, &data) == Success && data) {
        if (type == XA_ATOM && format == 32) {
            const auto* existing = reinterpret_cast<const Atom*>(data);
            states.assign(existing, existing + count);
        }
        XFree(data);
    }
    for (Atom a : wanted) {
        if (std::find(states.begin(), states.end(), a) == states.end()) states.push_back(a);
    }
    // Read by the window manager when the window is mapped.
    XChangeProperty(d, id, stateAtom, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(states.data()),
                    static_cast<int>(states.size()));
    XFlush(d);
}

void restate(QWidget* window, bool inTaskBar, bool onAllWorkspaces)
{
    Display* d = display();
    if (!d || !window || !window->testAttribute(Qt::WA_WState_Created)) return;
    const Window id = static_cast<Window>(window->winId());
    constexpr long add = 1, pager = 2;
    if (!inTaskBar) {
        sendClientMessage(d, id, "_NET_WM_STATE", add, static_cast<long>(atom(d, "_NET_WM_STATE_SKIP_TASKBAR")),
                          static_cast<long>(atom(d, "_NET_WM_STATE_SKIP_PAGER")), pager);
    }
    sendClientMessage(d, id, "_NET_WM_STATE", add, static_cast<long>(atom(d, "_NET_WM_STATE_ABOVE")),
                      onAllWorkspaces ? static_cast<long>(atom(d, "_NET_WM_STATE_STICKY")) : 0, pager);
    if (onAllWorkspaces) sendClientMessage(d, id, "_NET_WM_DESKTOP", 0xFFFFFFFFl, pager, 0, 0);
    XFlush(d);
}

void activate(QWidget* window)
{
    Display* d = display();
    if (!d || !window || !window->testAttribute(Qt::WA_WState_Created)) return;
    // Source 2: a pager's request, which window managers honour at once.
    sendClientMessage(d, static_cast<Window>(window->winId()), "_NET_ACTIVE_WINDOW", 2, CurrentTime, 0, 0);
    XFlush(d);
}

bool isViewable(QWidget* window)
{
    if (!window) return false;
    Display* d = display();
    if (!d) return window->isVisible();
    if (!window->testAttribute(Qt::WA_WState_Created)) return false;
    XWindowAttributes attributes {};
    if (!XGetWindowAttributes(d, static_cast<Window>(window->winId()), &attributes)) return false;
    return attributes.map_state == IsViewable;
}

} // namespace zorvane::ui::X11WindowHints
