#include "app/platform/linux/x11/X11WindowList.h"

#include "app/platform/linux/x11/X11Support.h"

#include <X11/Xlib-xcb.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace zorvane {

namespace {

bool contains(const PixelRect& r, Point p)
{
    return p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height;
}

// The window as the user sees it: the client area without the shadows a client-side decorated
// (GTK) window draws around itself, plus the window manager's decorations. Extents are left,
// right, top, bottom.
PixelRect visibleFrame(int x, int y, int width, int height, const std::uint32_t* gtkShadows, const std::uint32_t* decorations)
{
    PixelRect r {x, y, width, height};
    if (gtkShadows) {
        const int l = static_cast<int>(gtkShadows[0]), rt = static_cast<int>(gtkShadows[1]);
        const int t = static_cast<int>(gtkShadows[2]), b = static_cast<int>(gtkShadows[3]);
        if (l >= 0 && rt >= 0 && t >= 0 && b >= 0 && l + rt < r.width && t + b < r.height)
            r = {r.x + l, r.y + t, r.width - l - rt, r.height - t - b};
    }
    if (decorations) {
        const int l = static_cast<int>(decorations[0]), rt = static_cast<int>(decorations[1]);
        const int t = static_cast<int>(decorations[2]), b = static_cast<int>(decorations[3]);
        r = {r.x - l, r.y - t, r.width + l + rt, r.height + t + b};
    }
    return r;
}

std::optional<std::array<std::uint32_t, 4>> fourCardinals(Display* display, Window window, const char* property)
{
    auto values = x11::readCardinals(display, window, property);
    if (!values || values->size() < 4) return std::nullopt;
    return std::array<std::uint32_t, 4> {static_cast<std::uint32_t>((*values)[0]), static_cast<std::uint32_t>((*values)[1]),
        static_cast<std::uint32_t>((*values)[2]), static_cast<std::uint32_t>((*values)[3])};
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
        auto children = x11::rootChildren(d);
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
        int x = attributes.x, y = attributes.y;
        int width = attributes.width + 2 * attributes.border_width, height = attributes.height + 2 * attributes.border_width;
        if (candidate.managed) {
            Window child = 0;
            if (!XTranslateCoordinates(d, candidate.window, DefaultRootWindow(d), 0, 0, &x, &y, &child)) return;
            width = attributes.width;
            height = attributes.height;
        }
        const auto shadows = fourCardinals(d, candidate.window, "_GTK_FRAME_EXTENTS");
        const auto decorations = candidate.managed ? fourCardinals(d, candidate.window, "_NET_FRAME_EXTENTS") : std::nullopt;
        entry.frame = visibleFrame(x, y, width, height, shadows ? shadows->data() : nullptr,
            decorations ? decorations->data() : nullptr);
        entry.client = visibleFrame(x, y, width, height, shadows ? shadows->data() : nullptr, nullptr);
        entry.outer = {x, y, width, height};
        auto layer = layerOf(candidate);
        if (!layer) return;
        entry.layer = *layer;
        entry.ownerPID = ownerOf(candidate.window);
        result.push_back(entry);
    };

    // The root's children in stacking order: without a window manager that is the whole list; with
    // one, only the override-redirect windows (menus, tooltips, our overlay) are taken from it, as
    // they sit above everything the manager stacks.
    auto children = x11::rootChildren(d);
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
    xcb_connection_t* connection = XGetXCBConnection(d);
    const xcb_window_t root = static_cast<xcb_window_t>(DefaultRootWindow(d));
    const xcb_atom_t extentsAtom = static_cast<xcb_atom_t>(x11::atom(d, "_NET_FRAME_EXTENTS"));
    const xcb_atom_t shadowsAtom = static_cast<xcb_atom_t>(x11::atom(d, "_GTK_FRAME_EXTENTS"));

    // Where each window is and whether it is shown, asked for all of them at once: one round trip
    // instead of several per window above the one found.
    struct Pending {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t position;
        xcb_get_property_cookie_t extents;
        xcb_get_property_cookie_t shadows;
    };
    std::vector<Pending> pending(list->size());
    for (std::size_t i = 0; i < list->size(); ++i) {
        const auto w = static_cast<xcb_window_t>((*list)[i].window);
        pending[i].attributes = xcb_get_window_attributes(connection, w);
        pending[i].geometry = xcb_get_geometry(connection, w);
        pending[i].shadows = xcb_get_property(connection, 0, w, shadowsAtom, XCB_ATOM_CARDINAL, 0, 4);
        if ((*list)[i].managed) {
            pending[i].position = xcb_translate_coordinates(connection, w, root, 0, 0);
            pending[i].extents = xcb_get_property(connection, 0, w, extentsAtom, XCB_ATOM_CARDINAL, 0, 4);
        }
    }
    auto discardFrom = [&](std::size_t first) {
        for (std::size_t j = first; j < pending.size(); ++j) {
            xcb_discard_reply(connection, pending[j].attributes.sequence);
            xcb_discard_reply(connection, pending[j].geometry.sequence);
            xcb_discard_reply(connection, pending[j].shadows.sequence);
            if ((*list)[j].managed) {
                xcb_discard_reply(connection, pending[j].position.sequence);
                xcb_discard_reply(connection, pending[j].extents.sequence);
            }
        }
    };

    for (std::size_t i = 0; i < list->size(); ++i) {
        const Candidate& candidate = (*list)[i];
        xcb_generic_error_t* error = nullptr;
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(connection, pending[i].attributes, &error), &std::free);
        std::free(error);
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
            xcb_get_geometry_reply(connection, pending[i].geometry, &error), &std::free);
        std::free(error);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> shadows(
            xcb_get_property_reply(connection, pending[i].shadows, &error), &std::free);
        std::free(error);
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> position(nullptr, &std::free);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> extents(nullptr, &std::free);
        if (candidate.managed) {
            position.reset(xcb_translate_coordinates_reply(connection, pending[i].position, &error));
            std::free(error);
            extents.reset(xcb_get_property_reply(connection, pending[i].extents, &error));
            std::free(error);
        }
        if (!attributes || !geometry || (candidate.managed && !position)) continue;
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT
            || attributes->override_redirect)
            continue;

        auto cardinals = [](const xcb_get_property_reply_t* reply) -> const std::uint32_t* {
            if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 16) return nullptr;
            return static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        };
        X11WindowEntry entry;
        entry.window = candidate.window;
        if (candidate.managed)
            entry.outer = {position->dst_x, position->dst_y, geometry->width, geometry->height};
        else
            entry.outer = {geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                geometry->height + 2 * geometry->border_width};
        const PixelRect& o = entry.outer;
        entry.frame = visibleFrame(o.x, o.y, o.width, o.height, cardinals(shadows.get()), candidate.managed ? cardinals(extents.get()) : nullptr);
        entry.client = visibleFrame(o.x, o.y, o.width, o.height, cardinals(shadows.get()), nullptr);
        if (!contains(entry.frame, rootPixel)) continue;
        auto layer = layerOf(candidate);
        if (!layer || *layer != X11WindowLayer::normal) continue;
        entry.layer = *layer;
        entry.ownerPID = ownerOf(candidate.window);
        if (!entry.ownerPID || (excludedPID && *entry.ownerPID == *excludedPID)) continue;
        discardFrom(i + 1);
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
