#pragma once

// Shared Xlib plumbing for the X11 adapters: owned connections and resources, a scoped error trap,
// and typed property readers. Include Qt headers before this one (Xlib defines Status, Bool, None).

#include "app/platform/linux/x11/X11Handles.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zorvane::x11 {

// Anything Xlib hands out to be released with XFree (property data, query results, lists).
struct XFreeDeleter {
    void operator()(void* p) const
    {
        if (p) XFree(p);
    }
};
template <class T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

struct ImageDestroyer {
    void operator()(XImage* image) const
    {
        if (image) XDestroyImage(image);
    }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

// A server-side resource (pixmap, picture, …) freed with `release` when the scope ends.
template <void (*release)(Display*, unsigned long)>
class ScopedResource {
public:
    ScopedResource() = default;
    ScopedResource(Display* display, unsigned long id) : display_(display), id_(id) {}
    ScopedResource(ScopedResource&& other) noexcept
        : display_(other.display_), id_(std::exchange(other.id_, 0)) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept
    {
        if (this != &other) {
            reset();
            display_ = other.display_;
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    ~ScopedResource() { reset(); }
    unsigned long get() const { return id_; }
    explicit operator bool() const { return id_ != 0; }
    void reset()
    {
        if (id_) release(display_, id_);
        id_ = 0;
    }

private:
    Display* display_ = nullptr;
    unsigned long id_ = 0;
};
void freePixmap(Display* display, unsigned long pixmap);
void freePicture(Display* display, unsigned long picture);
using ScopedPixmap = ScopedResource<freePixmap>;
using ScopedPicture = ScopedResource<freePicture>;

// Catches the X errors of the requests made on `display` while it lives (innermost trap wins when
// nested). Errors arrive asynchronously: failed() syncs with the server first, so it covers every
// request made so far. Each connection must be used by one thread at a time.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Whether any request made since the trap was set (or last cleared) failed.
    bool failed();
    // The first error code seen, 0 when none.
    int errorCode() const { return errorCode_; }

private:
    friend int handleXError(Display*, XErrorEvent*);
    Display* display_;
    unsigned long firstSerial_;
    int errorCode_ = 0;
};

// Interned atom (Xlib caches them, so repeated calls are cheap).
Atom atom(Display* display, const char* name);

// Property readers. Each reads the whole property in one request; none when the window or the
// property is missing, or the property has another type or format. Errors are absorbed.
// 32-bit items (CARDINAL, WINDOW, ATOM, …); Xlib widens them to long.
std::optional<std::vector<unsigned long>> readProperty32(Display* display, Window window, Atom property, Atom type);
std::optional<std::vector<unsigned long>> readCardinals(Display* display, Window window, const char* property);
std::optional<std::vector<Window>> readWindows(Display* display, Window window, const char* property);
std::optional<std::vector<Atom>> readAtoms(Display* display, Window window, const char* property);
// 8-bit data of the given type (UTF8_STRING, STRING, …); AnyPropertyType accepts any type.
std::optional<std::string> readProperty8(Display* display, Window window, Atom property, Atom type);

// _NET_WM_NAME, else WM_NAME.
std::optional<std::string> windowName(Display* display, Window window);
// WM_CLASS as (instance, class).
std::optional<std::pair<std::string, std::string>> windowClass(Display* display, Window window);
// _NET_WM_PID.
std::optional<std::int32_t> windowPID(Display* display, Window window);
// The process behind the client that created `window`, from the X-Resource extension; covers
// clients that set no _NET_WM_PID. None for remote clients or without the extension.
std::optional<std::int32_t> clientPID(Display* display, Window window);
// A string X resource (Xft.dpi, …) from the root window's RESOURCE_MANAGER, read afresh.
std::optional<std::string> resource(Display* display, const std::string& name);

// The window manager's check window when an EWMH window manager runs; none otherwise.
std::optional<Window> windowManagerCheckWindow(Display* display);
// The root window's children, bottom to top (empty when the query fails).
std::vector<Window> rootChildren(Display* display);
// The child of the root that contains `window` (its frame when a window manager reparented it).
std::optional<Window> topLevelAncestor(Display* display, Window window);

} // namespace zorvane::x11
