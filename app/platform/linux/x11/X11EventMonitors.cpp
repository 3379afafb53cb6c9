#include "app/platform/linux/x11/X11EventMonitors.h"

// Qt before Xlib: Xlib defines Bool, Status and None as macros.
#include <QGuiApplication>
#include <QKeyEvent>
#include <QObject>
#include <QtGui/qguiapplication_platform.h>

#include "app/platform/linux/x11/X11Handles.h"

#include <xcb/xcb.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
// Clashes with QEvent::KeyPress; only the raw event's name is used here.
#undef KeyPress

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zorvane {

namespace {

enum class Kind { globalMove, localMove, globalKey, localKey };

struct Entry {
    Kind kind = Kind::globalMove;
    std::function<void(const PointerMovement&)> move;
    std::function<void(const KeyEvent&)> globalKey;
    std::function<bool(const KeyEvent&)> localKey;
    bool removed = false;
    int running = 0;
    std::thread::id runner;
};

std::shared_ptr<Entry> makeEntry(Kind kind, std::function<void(const PointerMovement&)> move,
    std::function<void(const KeyEvent&)> globalKey, std::function<bool(const KeyEvent&)> localKey)
{
    auto entry = std::make_shared<Entry>();
    entry->kind = kind;
    entry->move = std::move(move);
    entry->globalKey = std::move(globalKey);
    entry->localKey = std::move(localKey);
    return entry;
}

struct Sample {
    int rootX = 0;
    int rootY = 0;
    double uptime = 0;
    bool local = false;
};

void sayNoRawInputOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::fputs("Zorvane: el servidor X no ofrece XInput 2.2; la sacudida del puntero no funcionará "
                   "(la selección desde el menú sí).\n",
            stderr);
    });
}

struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

} // namespace

// While the main thread is busy, samples wait for it in one queued task, at most this many: a
// shake lasts well under a second, so its samples all survive.
constexpr std::size_t pendingMotionLimit = std::size_t(X11EventMonitors::sampleRate);

struct X11EventMonitors::State {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<X11Screens> screens;
    // Read again when older than monitorLayoutLifetime; a monitor change shows within that time.
    // Main thread only.
    std::optional<X11MonitorLayout> layout;
    double layoutRead = 0;

    std::mutex mutex;
    std::condition_variable idle;
    std::map<MonitorToken, std::shared_ptr<Entry>> entries;
    MonitorToken nextToken = 1;

    // Windows of the Qt connection carry its resource-id base in their high bits.
    bool knowsOwnWindows = false;
    std::uint32_t ownBase = 0;
    std::uint32_t ownMask = 0;

    // Requests that may fail on a vanished window go through xcb, which reports errors per
    // request instead of through Xlib's process-wide handler. Thread-safe.
    xcb_connection_t* query = nullptr;
    xcb_window_t root = 0;

    // Raw events arrive here; only the reader thread touches it once started.
    Display* display = nullptr;
    int xiOpcode = 0;
    int stopFd = -1;
    // Raw events are selected only while a monitor wants them: with none, no keystroke or movement
    // anywhere wakes us. The reader applies what `wanted` says when woken through wakeFd.
    int wakeFd = -1;
    struct Selection {
        bool motion = false;
        bool keys = false;
        friend bool operator==(const Selection&, const Selection&) = default;
    };
    Selection wanted;  // under mutex
    Selection applied; // reader thread only
    std::thread reader;
    // Root children known to hold (or not) one of our windows; reader thread only.
    std::unordered_map<xcb_window_t, bool> holdsOwnWindow;

    // Samples not yet delivered, oldest first, and whether a task to deliver them is queued.
    std::mutex motionMutex;
    std::deque<Sample> pendingMotion;
    bool motionPosted = false;

    std::unique_ptr<QObject> keyFilter;
    // What tasks posted to the main queue hold: they do nothing once the monitors are gone.
    std::weak_ptr<State> weakSelf;

    ~State()
    {
        if (reader.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stopFd, &one, sizeof one);
            reader.join();
        }
        if (stopFd >= 0) ::close(stopFd);
        if (wakeFd >= 0) ::close(wakeFd);
        if (display) x11::DisplayCloser {}(display);
        if (query) xcb_disconnect(query);
    }

    MonitorToken add(std::shared_ptr<Entry> entry)
    {
        const std::lock_guard lock(mutex);
        const MonitorToken token = nextToken++;
        entries.emplace(token, std::move(entry));
        reselect();
        return token;
    }

    // Under mutex: what the monitors now want selected, passed to the reader when it changed.
    void reselect()
    {
        Selection selection;
        for (const auto& [token, entry] : entries) {
            selection.motion = selection.motion || entry->kind == Kind::globalMove || entry->kind == Kind::localMove;
            selection.keys = selection.keys || entry->kind == Kind::globalKey;
        }
        if (selection == wanted) return;
        wanted = selection;
        if (wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }

    // Reader thread: selects what is wanted now on the root window.
    void applySelection()
    {
        Selection selection;
        {
            const std::lock_guard lock(mutex);
            selection = wanted;
        }
        if (selection == applied) return;
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        if (selection.motion) XISetMask(bits, XI_RawMotion);
        if (selection.keys) XISetMask(bits, XI_RawKeyPress);
        XIEventMask mask {XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        const Window rootWindow = DefaultRootWindow(display);
        XISelectEvents(display, rootWindow, &mask, 1);
        // Top-levels coming and going invalidate what we know about frames; unwatched, it is forgotten.
        const bool any = selection.motion || selection.keys;
        XSelectInput(display, rootWindow, any ? SubstructureNotifyMask : NoEventMask);
        if (!any) holdsOwnWindow.clear();
        XFlush(display);
        applied = selection;
    }

    std::vector<std::shared_ptr<Entry>> snapshot(Kind kind)
    {
        const std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Entry>> result;
        for (const auto& [token, entry] : entries)
            if (entry->kind == kind) result.push_back(entry);
        return result;
    }

    // Runs one handler unless its monitor has been removed; removal waits for a running handler
    // on another thread, so after removeMonitor returns nothing of it runs.
    template <typename Call> bool run(const std::shared_ptr<Entry>& entry, Call&& call)
    {
        {
            const std::lock_guard lock(mutex);
            if (entry->removed) return false;
            ++entry->running;
            entry->runner = std::this_thread::get_id();
        }
        struct Done {
            State& state;
            Entry& entry;
            ~Done()
            {
                {
                    const std::lock_guard lock(state.mutex);
                    --entry.running;
                }
                state.idle.notify_all();
            }
        } done {*this, *entry};
        return call(*entry);
    }

    void deliverMotion(const Sample& sample)
    {
        if (!screens) return;
        const double now = clock->uptime();
        if (!layout || now - layoutRead > monitorLayoutLifetime) {
            layout = screens->layout();
            layoutRead = now;
        }
        const PointerMovement movement {layout->quartzPoint(Point {double(sample.rootX), double(sample.rootY)}), sample.uptime};
        for (const auto& entry : snapshot(sample.local ? Kind::localMove : Kind::globalMove))
            run(entry, [&](Entry& e) {
                e.move(movement);
                return true;
            });
    }

    void deliverGlobalKey(int keyCode)
    {
        const KeyEvent event {keyCode};
        for (const auto& entry : snapshot(Kind::globalKey))
            run(entry, [&](Entry& e) {
                e.globalKey(event);
                return true;
            });
    }

    bool deliverLocalKey(int keyCode)
    {
        const KeyEvent event {keyCode};
        for (const auto& entry : snapshot(Kind::localKey))
            if (run(entry, [&](Entry& e) { return e.localKey(event); })) return true;
        return false;
    }

    bool isOwn(xcb_window_t window) const { return knowsOwnWindows && window != 0 && (window & ~ownMask) == ownBase; }

    std::vector<xcb_window_t> children(xcb_window_t window)
    {
        xcb_generic_error_t* error = nullptr;
        const XcbReply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(query, xcb_query_tree(query, window), &error));
        std::free(error);
        if (!reply) return {};
        const xcb_window_t* first = xcb_query_tree_children(reply.get());
        return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(reply.get()));
    }

    // Whether the root child (a top-level or a window manager's frame) shows one of our windows.
    bool concernsOwnWindow(xcb_window_t rootChild)
    {
        if (!knowsOwnWindows || rootChild == 0) return false;
        if (isOwn(rootChild)) return true;
        if (const auto known = holdsOwnWindow.find(rootChild); known != holdsOwnWindow.end()) return known->second;
        // A frame holds the client one or two levels down.
        bool found = false;
        const std::vector<xcb_window_t> inner = children(rootChild);
        for (std::size_t i = 0; i < inner.size() && !found; ++i) {
            found = isOwn(inner[i]);
            if (found) break;
            const std::vector<xcb_window_t> deeper = children(inner[i]);
            for (std::size_t j = 0; j < deeper.size() && !found; ++j) found = isOwn(deeper[j]);
        }
        if (holdsOwnWindow.size() > 256) holdsOwnWindow.clear();
        holdsOwnWindow.emplace(rootChild, found);
        return found;
    }

    void sampleMotion()
    {
        xcb_generic_error_t* error = nullptr;
        const XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(query, xcb_query_pointer(query, root), &error));
        std::free(error);
        if (!pointer || !pointer->same_screen) return;
        // A move with a button held is a drag, which the pointer-moved monitors do not see.
        if (pointer->mask & (XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3)) return;
        const Sample sample {pointer->root_x, pointer->root_y, clock->uptime(), concernsOwnWindow(pointer->child)};
        {
            const std::lock_guard lock(motionMutex);
            pendingMotion.push_back(sample);
            if (pendingMotion.size() > pendingMotionLimit) pendingMotion.pop_front();
            if (motionPosted) return; // the queued task takes this sample too
            motionPosted = true;
        }
        mainQueue->post([weak = weakSelf] {
            const auto state = weak.lock();
            if (!state) return;
            std::deque<Sample> samples;
            {
                const std::lock_guard lock(state->motionMutex);
                samples.swap(state->pendingMotion);
                state->motionPosted = false;
            }
            for (const Sample& sample : samples) state->deliverMotion(sample);
        });
    }

    bool focusIsOwn()
    {
        xcb_generic_error_t* error = nullptr;
        const XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(query, xcb_get_input_focus(query), &error));
        std::free(error);
        if (!focus) return false;
        if (focus->focus > XCB_INPUT_FOCUS_POINTER_ROOT) return isOwn(focus->focus) || concernsOwnWindow(focus->focus);
        // Focus follows the pointer: the window under it gets the key.
        const XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(query, xcb_query_pointer(query, root), nullptr));
        return pointer && concernsOwnWindow(pointer->child);
    }

    void handleKey(int keycode)
    {
        const auto code = appleKeyCode(XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0));
        // Our own windows get the key from Qt, where a local monitor can swallow it.
        if (!code || focusIsOwn()) return;
        mainQueue->post([weak = weakSelf, keyCode = *code] {
            if (const auto state = weak.lock()) state->deliverGlobalKey(keyCode);
        });
    }

    void readEvents()
    {
        using Steady = std::chrono::steady_clock;
        const auto interval = std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(1.0 / sampleRate));
        const int xfd = ConnectionNumber(display);
        bool motionSeen = false;
        Steady::time_point nextSample {};

        for (;;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                switch (event.type) {
                case GenericEvent:
                    if (event.xcookie.extension == xiOpcode && XGetEventData(display, &event.xcookie)) {
                        if (event.xcookie.evtype == XI_RawMotion) motionSeen = true;
                        else if (event.xcookie.evtype == XI_RawKeyPress)
                            handleKey(static_cast<const XIRawEvent*>(event.xcookie.data)->detail);
                        XFreeEventData(display, &event.xcookie);
                    }
                    break;
                case CreateNotify:
                case DestroyNotify:
                case ReparentNotify: holdsOwnWindow.clear(); break;
                case MappingNotify: XRefreshKeyboardMapping(&event.xmapping); break;
                default: break;
                }
            }
            auto now = Steady::now();
            if (motionSeen && now >= nextSample) {
                motionSeen = false;
                sampleMotion();
                nextSample = now + interval;
            }

            // Right after a sample, let the burst gather in the socket until the next slot;
            // otherwise sleep until the server or the stop signal says something.
            now = Steady::now();
            pollfd fds[3] = {{stopFd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {xfd, POLLIN, 0}};
            const bool gathering = now < nextSample;
            const int timeout = gathering
                ? static_cast<int>(std::ceil(std::chrono::duration<double, std::milli>(nextSample - now).count()))
                : -1;
            const int ready = ::poll(fds, gathering ? 2 : 3, timeout);
            if (ready < 0 && errno != EINTR) return;
            if (fds[0].revents) return;
            if (fds[1].revents) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof count);
                applySelection();
            }
            if (!gathering && (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL))) return;
        }
    }

    bool startReading()
    {
        display = XOpenDisplay(nullptr);
        if (!display) return false;
        x11::surviveConnectionLoss(display);
        int event = 0;
        int error = 0;
        if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error)) return false;
        int major = 2;
        int minor = 2;
        if (XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) return false;

        stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd < 0 || wakeFd < 0) return false;
        // Whatever monitors exist already are selected as soon as the reader runs.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
        return true;
    }
};

namespace {

// Local key presses come from Qt's own delivery, before any widget sees them.
class LocalKeyFilter final : public QObject {
public:
    explicit LocalKeyFilter(X11EventMonitors::State& state) : state_(state) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Each press reaches the window first and then every widget it propagates to; take it once.
        if (event->type() != QEvent::KeyPress || !watched->isWindowType() || !event->spontaneous()) return false;
        const auto code = X11EventMonitors::appleKeyCode(static_cast<QKeyEvent*>(event)->nativeVirtualKey());
        return code && state_.deliverLocalKey(*code);
    }

private:
    X11EventMonitors::State& state_;
};

} // namespace

std::shared_ptr<X11EventMonitors> X11EventMonitors::create(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock,
    std::shared_ptr<X11Screens> screens)
{
    auto state = std::make_shared<State>();
    state->weakSelf = state;
    state->mainQueue = std::move(mainQueue);
    state->clock = std::move(clock);
    state->screens = std::move(screens);

    int screen = 0;
    state->query = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(state->query) == 0) {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(state->query));
        for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
        if (it.rem) state->root = it.data->root;
    }

    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (xcb_connection_t* own = x11->connection()) {
            const xcb_setup_t* setup = xcb_get_setup(own);
            state->ownBase = setup->resource_id_base;
            state->ownMask = setup->resource_id_mask;
            state->knowsOwnWindows = true;
        }
    }
    if (QCoreApplication* app = QCoreApplication::instance()) {
        state->keyFilter = std::make_unique<LocalKeyFilter>(*state);
        app->installEventFilter(state->keyFilter.get());
    }

    if (state->root != 0 && state->startReading()) {
        // The state's destructor stops and joins the thread before anything it uses goes away.
        state->reader = std::thread([raw = state.get()] { raw->readEvents(); });
    } else {
        sayNoRawInputOnce();
    }
    return std::shared_ptr<X11EventMonitors>(new X11EventMonitors(std::move(state)));
}

X11EventMonitors::X11EventMonitors(std::shared_ptr<State> state) : state_(std::move(state)) {}

X11EventMonitors::~X11EventMonitors() = default;

MonitorToken X11EventMonitors::addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    return state_->add(makeEntry(Kind::globalMove, std::move(handler), {}, {}));
}

MonitorToken X11EventMonitors::addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler)
{
    return state_->add(makeEntry(Kind::localMove, std::move(handler), {}, {}));
}

MonitorToken X11EventMonitors::addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler)
{
    return state_->add(makeEntry(Kind::globalKey, {}, std::move(handler), {}));
}

MonitorToken X11EventMonitors::addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler)
{
    return state_->add(makeEntry(Kind::localKey, {}, {}, std::move(handler)));
}

void X11EventMonitors::removeMonitor(MonitorToken token)
{
    std::unique_lock lock(state_->mutex);
    const auto found = state_->entries.find(token);
    if (found == state_->entries.end()) return;
    const std::shared_ptr<Entry> entry = found->second;
    state_->entries.erase(found);
    entry->removed = true;
    state_->reselect();
    const auto self = std::this_thread::get_id();
    state_->idle.wait(lock, [&] { return entry->running == 0 || entry->runner == self; });
}

Point X11EventMonitors::currentPointerLocation()
{
    if (state_->root == 0 || !state_->screens) return {};
    const XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(state_->query, xcb_query_pointer(state_->query, state_->root), nullptr));
    if (!pointer) return {};
    return state_->screens->quartzPoint(Point {double(pointer->root_x), double(pointer->root_y)});
}

bool X11EventMonitors::watchesRawInput() const
{
    return state_->reader.joinable();
}

std::optional<int> X11EventMonitors::appleKeyCode(unsigned long keysym)
{
    // The Apple numbering follows key positions on an ANSI keyboard; X gives symbols, so each
    // symbol maps to the key that carries it on a US layout.
    static const std::unordered_map<unsigned long, int> codes = {
        {XK_a, 0}, {XK_s, 1}, {XK_d, 2}, {XK_f, 3}, {XK_h, 4}, {XK_g, 5}, {XK_z, 6}, {XK_x, 7}, {XK_c, 8},
        {XK_v, 9}, {XK_b, 11}, {XK_q, 12}, {XK_w, 13}, {XK_e, 14}, {XK_r, 15}, {XK_y, 16}, {XK_t, 17},
        {XK_1, 18}, {XK_2, 19}, {XK_3, 20}, {XK_4, 21}, {XK_6, 22}, {XK_5, 23}, {XK_equal, 24}, {XK_9, 25},
        {XK_7, 26}, {XK_minus, 27}, {XK_8, 28}, {XK_0, 29}, {XK_bracketright, 30}, {XK_o, 31}, {XK_u, 32},
        {XK_bracketleft, 33}, {XK_i, 34}, {XK_p, 35}, {XK_Return, 36}, {XK_l, 37}, {XK_j, 38},
        {XK_apostrophe, 39}, {XK_k, 40}, {XK_semicolon, 41}, {XK_backslash, 42}, {XK_comma, 43},
        {XK_slash, 44}, {XK_n, 45}, {XK_m, 46}, {XK_period, 47}, {XK_Tab, 48}, {XK_ISO_Left_Tab, 48},
        {XK_space, 49}, {XK_grave, 50}, {XK_BackSpace, 51}, {XK_Escape, 53}, {XK_Super_R, 54},
        {XK_Super_L, 55}, {XK_Shift_L, 56}, {XK_Caps_Lock, 57}, {XK_Alt_L, 58}, {XK_Control_L, 59},
        {XK_Shift_R, 60}, {XK_Alt_R, 61}, {XK_ISO_Level3_Shift, 61}, {XK_Control_R, 62}, {XK_F17, 64},
        {XK_KP_Decimal, 65}, {XK_KP_Multiply, 67}, {XK_KP_Add, 69}, {XK_Num_Lock, 71}, {XK_KP_Divide, 75},
        {XK_KP_Enter, 76}, {XK_KP_Subtract, 78}, {XK_F18, 79}, {XK_F19, 80}, {XK_KP_Equal, 81},
        {XK_KP_0, 82}, {XK_KP_1, 83}, {XK_KP_2, 84}, {XK_KP_3, 85}, {XK_KP_4, 86}, {XK_KP_5, 87},
        {XK_KP_6, 88}, {XK_KP_7, 89}, {XK_F20, 90}, {XK_KP_8, 91}, {XK_KP_9, 92}, {XK_F5, 96}, {XK_F6, 97},
        {XK_F7, 98}, {XK_F3, 99}, {XK_F8, 100}, {XK_F9, 101}, {XK_F11, 103}, {XK_F13, 105}, {XK_F16, 106},
        {XK_F14, 107}, {XK_F10, 109}, {XK_Menu, 110}, {XK_F12, 111}, {XK_F15, 113}, {XK_Help, 114},
        {XK_Insert, 114}, {XK_Home, 115}, {XK_Prior, 116}, {XK_Delete, 117}, {XK_F4, 118}, {XK_End, 119},
        {XK_F2, 120}, {XK_Next, 121}, {XK_F1, 122}, {XK_Left, 123}, {XK_Right, 124}, {XK_Down, 125},
        {XK_Up, 126},
    };
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    const auto found = codes.find(keysym);
    if (found == codes.end()) return std::nullopt;
    return found->second;
}

} // namespace zorvane
