#include "app/platform/linux/x11/X11Support.h"

#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrender.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <unordered_map>

namespace zorvane::x11 {

namespace {

// Connections opened through openDisplay, each with its stack of active traps. The Xlib error
// handler is process-wide, so it looks the failing connection up here.
struct Registry {
    std::mutex mutex;
    std::unordered_map<Display*, std::vector<ErrorTrap*>> traps;
    XErrorHandler previous = nullptr;
    // Connections whose server went away, and what to tell then.
    std::unordered_map<Display*, bool> lost;
    void (*reportLoss)() = nullptr;
};

Registry& registry()
{
    static Registry* instance = new Registry; // outlives every connection, even at exit
    return *instance;
}

int handleIOError(Display*)
{
    // Returning hands over to the connection's exit handler, which does not exit either.
    if (const auto report = registry().reportLoss) report();
    return 0;
}

void markLost(Display* display, void*)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.lost[display] = true;
}

} // namespace

void reportConnectionLoss(void (*report)())
{
    registry().reportLoss = report;
    XSetIOErrorHandler(handleIOError);
}

void surviveConnectionLoss(Display* display)
{
    if (display) XSetIOErrorExitHandler(display, markLost, nullptr);
}

int handleXError(Display* display, XErrorEvent* event)
{
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        const auto it = r.traps.find(display);
        if (it != r.traps.end()) {
            // The innermost trap that was set before the failing request owns the error.
            for (auto trap = it->second.rbegin(); trap != it->second.rend(); ++trap) {
                if (event->serial >= (*trap)->firstSerial_) {
                    if (!(*trap)->errorCode_) (*trap)->errorCode_ = event->error_code;
                    break;
                }
            }
            return 0;
        }
    }
    // Not one of ours: whoever handled errors before us decides.
    return r.previous ? r.previous(display, event) : 0;
}

DisplayPtr openDisplay(const char* name)
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        r.previous = XSetErrorHandler(handleXError);
    });
    Display* display = XOpenDisplay(name);
    if (!display) return nullptr;
    surviveConnectionLoss(display);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.traps[display];
    return DisplayPtr(display);
}

void DisplayCloser::operator()(Display* display) const
{
    if (!display) return;
    Registry& r = registry();
    {
        // A connection that failed on another thread keeps that thread's lock: closing it would
        // wait for ever. What it holds goes with the process.
        std::lock_guard lock(r.mutex);
        if (r.lost.erase(display) > 0) {
            r.traps.erase(display);
            return;
        }
    }
    XCloseDisplay(display);
    std::lock_guard lock(r.mutex);
    r.traps.erase(display);
}

void freePixmap(Display* display, unsigned long pixmap) { XFreePixmap(display, pixmap); }

void freePicture(Display* display, unsigned long picture) { XRenderFreePicture(display, picture); }

ErrorTrap::ErrorTrap(Display* display) : display_(display), firstSerial_(NextRequest(display))
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // Toolkits install their own handler when they start (Qt's ignores every error); take the
    // errors back, passing on those of other connections.
    const XErrorHandler current = XSetErrorHandler(handleXError);
    if (current != handleXError) r.previous = current;
    r.traps[display_].push_back(this);
}

ErrorTrap::~ErrorTrap()
{
    XSync(display_, False);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto& stack = r.traps[display_];
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
}

bool ErrorTrap::failed()
{
    XSync(display_, False);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return errorCode_ != 0;
}

Atom atom(Display* display, const char* name) { return XInternAtom(display, name, False); }

namespace {

struct RawProperty {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    XPtr<unsigned char> data;
};

std::optional<RawProperty> readRaw(Display* display, Window window, Atom property, Atom type)
{
    RawProperty raw;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    // Length in 32-bit units: 4 MiB is far beyond any window property we read.
    const int status = XGetWindowProperty(
        display, window, property, 0, 1L << 20, False, type, &raw.type, &raw.format, &raw.count, &after, &data);
    raw.data.reset(data);
    if (status != Success || raw.type == None) return std::nullopt;
    if (type != AnyPropertyType && raw.type != type) return std::nullopt;
    return raw;
}

} // namespace

std::optional<std::vector<unsigned long>> readProperty32(Display* display, Window window, Atom property, Atom type)
{
    auto raw = readRaw(display, window, property, type);
    if (!raw || raw->format != 32) return std::nullopt;
    const auto* items = reinterpret_cast<const unsigned long*>(raw->data.get());
    std::vector<unsigned long> values(items, items + raw->count);
    // Xlib widens 32-bit items to long but keeps the sign of CARDINALs read as long.
    for (auto& v : values) v &= 0xffffffffUL;
    return values;
}

std::optional<std::vector<unsigned long>> readCardinals(Display* display, Window window, const char* property)
{
    return readProperty32(display, window, atom(display, property), XA_CARDINAL);
}

std::optional<std::vector<Window>> readWindows(Display* display, Window window, const char* property)
{
    auto values = readProperty32(display, window, atom(display, property), XA_WINDOW);
    if (!values) return std::nullopt;
    return std::vector<Window>(values->begin(), values->end());
}

std::optional<std::vector<Atom>> readAtoms(Display* display, Window window, const char* property)
{
    auto values = readProperty32(display, window, atom(display, property), XA_ATOM);
    if (!values) return std::nullopt;
    return std::vector<Atom>(values->begin(), values->end());
}

std::optional<std::string> readProperty8(Display* display, Window window, Atom property, Atom type)
{
    auto raw = readRaw(display, window, property, type);
    if (!raw || raw->format != 8) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(raw->data.get()), raw->count);
}

std::optional<std::string> windowName(Display* display, Window window)
{
    if (auto name = readProperty8(display, window, atom(display, "_NET_WM_NAME"), atom(display, "UTF8_STRING")))
        return name;
    return readProperty8(display, window, XA_WM_NAME, AnyPropertyType);
}

std::optional<std::pair<std::string, std::string>> windowClass(Display* display, Window window)
{
    auto raw = readProperty8(display, window, XA_WM_CLASS, XA_STRING);
    if (!raw) return std::nullopt;
    // Two NUL-terminated strings: instance, then class.
    const auto split = raw->find('\0');
    std::string instance = raw->substr(0, split);
    std::string klass;
    if (split != std::string::npos) {
        klass = raw->substr(split + 1);
        if (const auto end = klass.find('\0'); end != std::string::npos) klass.resize(end);
    }
    return std::make_pair(std::move(instance), std::move(klass));
}

std::optional<std::int32_t> windowPID(Display* display, Window window)
{
    auto values = readCardinals(display, window, "_NET_WM_PID");
    if (!values || values->empty() || (*values)[0] == 0 || (*values)[0] > 0x7fffffffUL) return std::nullopt;
    return static_cast<std::int32_t>((*values)[0]);
}

std::optional<std::int32_t> clientPID(Display* display, Window window)
{
    int eventBase = 0, errorBase = 0;
    if (!XResQueryExtension(display, &eventBase, &errorBase)) return std::nullopt;
    XResClientIdSpec spec {window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    if (XResQueryClientIds(display, 1, &spec, &count, &ids) != Success) return std::nullopt;
    std::optional<std::int32_t> pid;
    for (long i = 0; i < count && !pid; ++i) {
        const pid_t p = XResGetClientPid(&ids[i]);
        if (p > 0) pid = p;
    }
    XResClientIdsDestroy(count, ids);
    return pid;
}

std::optional<std::string> resource(Display* display, const std::string& name)
{
    auto all = readProperty8(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING);
    if (!all) return std::nullopt;
    // xrdb writes one "name:\tvalue" per line.
    std::istringstream lines(*all);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 || line[name.size()] != ':')
            continue;
        const auto start = line.find_first_not_of(" \t", name.size() + 1);
        if (start == std::string::npos) return std::string();
        const auto end = line.find_last_not_of(" \t\r");
        return line.substr(start, end - start + 1);
    }
    return std::nullopt;
}

std::optional<Window> windowManagerCheckWindow(Display* display)
{
    // The check window must point at itself, or the property is a leftover of a window manager
    // that has gone.
    auto fromRoot = readWindows(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    if (!fromRoot || fromRoot->empty() || !(*fromRoot)[0]) return std::nullopt;
    const Window check = (*fromRoot)[0];
    auto fromCheck = readWindows(display, check, "_NET_SUPPORTING_WM_CHECK");
    if (!fromCheck || fromCheck->empty() || (*fromCheck)[0] != check) return std::nullopt;
    return check;
}

std::vector<Window> rootChildren(Display* display)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) && children)
        result.assign(children, children + count);
    XPtr<Window> owned(children);
    return result;
}

std::optional<Window> topLevelAncestor(Display* display, Window window)
{
    const Window root = DefaultRootWindow(display);
    Window current = window;
    for (int depth = 0; depth < 64 && current && current != root; ++depth) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return std::nullopt;
        XPtr<Window> owned(children);
        if (parent == root) return current;
        current = parent;
    }
    return std::nullopt;
}

} // namespace zorvane::x11
