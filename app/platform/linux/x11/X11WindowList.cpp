#include "app/platform/linux/x11/X11WindowList.h"

#include "app/platform/linux/x11/X11Support.h"

#include <algorithm>
#include <cstring>

namespace zorvane {

namespace {

bool contains(const PixelRect& r, Point p)
{
    return p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height;
}

std::vector<Window> rootChildren(Display* display)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) && children)
        result.assign(children, children + count);
    x11::XPtr<Window> owned(children);
    return result;
}

} // namespace

std::unique_ptr<X11WindowList> X11WindowList::create(const char* displayName)
{
    auto display = x11::openDisplay(displayName);
    if (!display) return nullptr;
    return std::unique_ptr<X11WindowList>(new X11WindowList(std::move(display)));
}

std::optional<std::vector<X11WindowList::Candidate>> X11WindowList::candidates()
{
    Display* d = display_.get();
    std::vector<Candidate> result;
    windowManager_ = x11::windowManagerCheckWindow(d).has_value();
    if (windowManager_) {
        auto stacking = x11::readWindows(d, DefaultRootWindow(d), "_NET_CLIENT_LIST_STACKING");
        if (!stacking) return std::nullopt;
        for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) result.push_back({*it, false, true});
    } else {
        auto children = rootChildren(d);
        for (auto it = children.rbegin(); it != children.rend(); ++it) result.push_back({*it, false, false});
    }
    return result;
}

std::optional<int> X11WindowList::layerOf(const Candidate& candidate)
{
    if (candidate.overrideRedirect) return X11WindowLayer::popUpMenu;
    Display* d = display_.get();
    int layer = X11WindowLayer::normal;
    if (auto types = x11::readAtoms(d, candidate.window, "_NET_WM_WINDOW_TYPE")) {
        struct Kind {
            const char* name;
            std::optional<int> layer; // none: a desktop element, not listed
        };
        static const Kind kinds[] = {{"_NET_WM_WINDOW_TYPE_DESKTOP", std::nullopt},
            {"_NET_WM_WINDOW_TYPE_DOCK", X11WindowLayer::dock},
            {"_NET_WM_WINDOW_TYPE_MENU", X11WindowLayer::popUpMenu},
            {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", X11WindowLayer::popUpMenu},
            {"_NET_WM_WINDOW_TYPE_POPUP_MENU", X11WindowLayer::popUpMenu},
            {"_NET_WM_WINDOW_TYPE_COMBO", X11WindowLayer::popUpMenu},
            {"_NET_WM_WINDOW_TYPE_TOOLTIP", X11WindowLayer::tooltip},
            {"_NET_WM_WINDOW_TYPE_NOTIFICATION", X11WindowLayer::notification},
            {"_NET_WM_WINDOW_TYPE_DND", X11WindowLayer::dragAndDrop},
            {"_NET_WM_WINDOW_TYPE_NORMAL", X11WindowLayer::normal},
            {"_NET_WM_WINDOW_TYPE_DIALOG", X11WindowLayer::normal},
            {"_NET_WM_WINDOW_TYPE_UTILITY", X11WindowLayer::normal},
            {"_NET_WM_WINDOW_TYPE_TOOLBAR", X11WindowLayer::normal},
            {"_NET_WM_WINDOW_TYPE_SPLASH", X11WindowLayer::normal}};
        // The first type this list knows decides; the others are the client's fallbacks.
        bool decided = false;
        for (Atom type : *types) {
            for (const auto& kind : kinds) {
                if (type != x11::atom(d, kind.name)) continue;
                if (!kind.layer) return std::nullopt;
                layer = *kind.layer;
                decided = true;
                break;
            }
            if (decided) break;
        }
    }
    if (auto states = x11::readAtoms(d, candidate.window, "_NET_WM_STATE")) {
        for (Atom state : *states) {
            if (state == x11::atom(d, "_NET_WM_STATE_HIDDEN")) return std::nullopt;
            if (layer == X11WindowLayer::normal && state == x11::atom(d, "_NET_WM_STATE_ABOVE"))
                layer = X11WindowLayer::floating;
            if (layer == X11WindowLayer::normal && state == x11::atom(d, "_NET_WM_STATE_BELOW"))
                layer = X11WindowLayer::below;
        }
    }
    return layer;
}

std::optional<ProcessID> X11WindowList::ownerOf(Window window)
{
    if (auto pid = x11::windowPID(display_.get(), window)) return pid;
    return x11::clientPID(display_.get(), window);
}

std::optional<std::vector<X11WindowEntry>> X11WindowList::entries()
{
    std::lock_guard lock(mutex_);
    Display* d = display_.get();
    x11::ErrorTrap trap(d);
    auto list = candidates();
    if (!list) return std::nullopt;
    const bool windowManager = windowManager_;

    std::vector<X11WindowEntry> result;
    auto add = [&](const Candidate& candidate, const XWindowAttributes& attributes) {
        X11WindowEntry entry;
        entry.window = candidate.window;
        if (candidate.managed) {
            int x = 0, y = 0;
            Window child = 0;
            if (!XTranslateCoordinates(d, candidate.window, DefaultRootWindow(d), 0, 0, &x, &y, &child)) return;
            entry.frame = {x, y, attributes.width, attributes.height};
            if (auto e = x11::readCardinals(d, candidate.window, "_NET_FRAME_EXTENTS"); e && e->size() >= 4) {
                entry.frame = {x - static_cast<int>((*e)[0]), y - static_cast<int>((*e)[2]),
                    attributes.width + static_cast<int>((*e)[0] + (*e)[1]),
                    attributes.height + static_cast<int>((*e)[2] + (*e)[3])};
            }
        } else {
            entry.frame = {attributes.x, attributes.y, attributes.width + 2 * attributes.border_width,
                attributes.height + 2 * attributes.border_width};
        }
        auto layer = layerOf(candidate);
        if (!layer) return;
        entry.layer = *layer;
        entry.ownerPID = ownerOf(candidate.window);
        result.push_back(entry);
    };

    // The root's children in stacking order: without a window manager that is the whole list; with
    // one, only the override-redirect windows (menus, tooltips, our overlay) are taken from it, as
    // they sit above everything the manager stacks.
    auto children = rootChildren(d);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(d, *it, &attributes) || attributes.map_state != IsViewable
            || attributes.c_class != InputOutput)
            continue;
        if (attributes.override_redirect) add({*it, true, false}, attributes);
        else if (!windowManager) add({*it, false, false}, attributes);
    }
    if (windowManager) {
        for (const auto& candidate : *list) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(d, candidate.window, &attributes) || attributes.map_state != IsViewable
                || attributes.c_class != InputOutput || attributes.override_redirect)
                continue;
            add(candidate, attributes);
        }
    }
    return result;
}

std::optional<std::vector<WindowInfo>> X11WindowList::onScreenWindows()
{
    auto list = entries();
    if (!list) return std::nullopt;
    X11MonitorLayout layout({});
    {
        std::lock_guard lock(mutex_);
        x11::ErrorTrap trap(display_.get());
        layout = X11MonitorLayout::read(display_.get(), false);
    }
    std::vector<WindowInfo> result;
    result.reserve(list->size());
    for (const auto& entry : *list) result.push_back({entry.ownerPID, entry.layer, layout.quartzRect(entry.frame)});
    return result;
}

std::optional<X11WindowEntry> X11WindowList::topmostApplicationWindowAtPixel(
    Point rootPixel, std::optional<ProcessID> excludedPID)
{
    std::lock_guard lock(mutex_);
    Display* d = display_.get();
    x11::ErrorTrap trap(d);
    auto list = candidates();
    if (!list) return std::nullopt;
    const Window root = DefaultRootWindow(d);
    for (const auto& candidate : *list) {
        // Cheapest tests first: where it is, then whether it is shown, then what it is and whose.
        X11WindowEntry entry;
        entry.window = candidate.window;
        Window geometryRoot = 0, child = 0;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        if (!XGetGeometry(d, candidate.window, &geometryRoot, &x, &y, &width, &height, &border, &depth)) continue;
        if (candidate.managed) {
            if (!XTranslateCoordinates(d, candidate.window, root, 0, 0, &x, &y, &child)) continue;
            entry.frame = {x, y, static_cast<int>(width), static_cast<int>(height)};
            // The decorations count as part of the window; test against the client first, as the
            // extents are an extra request.
            if (!contains(entry.frame, rootPixel)) {
                auto extents = x11::readCardinals(d, candidate.window, "_NET_FRAME_EXTENTS");
                if (!extents || extents->size() < 4) continue;
                const auto& e = *extents;
                entry.frame = {x - static_cast<int>(e[0]), y - static_cast<int>(e[2]),
                    static_cast<int>(width + e[0] + e[1]), static_cast<int>(height + e[2] + e[3])};
                if (!contains(entry.frame, rootPixel)) continue;
            } else if (auto extents = x11::readCardinals(d, candidate.window, "_NET_FRAME_EXTENTS");
                       extents && extents->size() >= 4) {
                const auto& e = *extents;
                entry.frame = {x - static_cast<int>(e[0]), y - static_cast<int>(e[2]),
                    static_cast<int>(width + e[0] + e[1]), static_cast<int>(height + e[2] + e[3])};
            }
        } else {
            entry.frame = {x, y, static_cast<int>(width + 2 * border), static_cast<int>(height + 2 * border)};
            if (!contains(entry.frame, rootPixel)) continue;
        }
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(d, candidate.window, &attributes) || attributes.map_state != IsViewable
            || attributes.c_class != InputOutput || attributes.override_redirect)
            continue;
        auto layer = layerOf(candidate);
        if (!layer || *layer != X11WindowLayer::normal) continue;
        entry.layer = *layer;
        entry.ownerPID = ownerOf(candidate.window);
        if (!entry.ownerPID || (excludedPID && *entry.ownerPID == *excludedPID)) continue;
        return entry;
    }
    return std::nullopt;
}

std::optional<WindowInfo> X11WindowList::topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID)
{
    X11MonitorLayout layout({});
    {
        std::lock_guard lock(mutex_);
        x11::ErrorTrap trap(display_.get());
        layout = X11MonitorLayout::read(display_.get(), false);
    }
    auto entry = topmostApplicationWindowAtPixel(layout.rootPixelPoint(quartzPoint), excludedPID);
    if (!entry) return std::nullopt;
    return WindowInfo {entry->ownerPID, entry->layer, layout.quartzRect(entry->frame)};
}

} // namespace zorvane
