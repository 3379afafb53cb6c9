#include "app/platform/linux/x11/X11KeyboardGrab.h"

#include "app/platform/linux/x11/X11EventMonitors.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <set>
#include <vector>

namespace zorvane {

namespace {

template <typename T> struct Freed {
    T* reply;
    ~Freed() { std::free(reply); }
    T* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t* connection)
{
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen)) std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && it.rem > 1; ++i) xcb_screen_next(&it);
    return it.rem ? it.data->root : 0;
}

} // namespace

struct X11KeyboardGrab::State final : QAbstractNativeEventFilter {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    bool grabbed = false;
    std::function<void(const KeyEvent&)> onKeyDown;
    std::set<xcb_keycode_t> down;
    QTimer retry;
    QTimer releaseWait;
    std::chrono::steady_clock::time_point retryUntil;
    // The first keysym of each key code, from minKeycode on.
    xcb_keycode_t minKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;

    bool tryGrab()
    {
        if (!connection || !root) return false;
        Freed<xcb_grab_keyboard_reply_t> reply {xcb_grab_keyboard_reply(connection,
            xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr)};
        grabbed = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        return grabbed;
    }

    void ungrab()
    {
        retry.stop();
        releaseWait.stop();
        down.clear();
        if (!grabbed) return;
        grabbed = false;
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }

    void readKeyboardMapping()
    {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        minKeycode = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        Freed<xcb_get_keyboard_mapping_reply_t> mapping {xcb_get_keyboard_mapping_reply(connection,
            xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr)};
        keysyms.clear();
        if (!mapping || mapping->keysyms_per_keycode == 0) return;
        const xcb_keysym_t* all = xcb_get_keyboard_mapping_keysyms(mapping.reply);
        for (int i = 0; i < count; ++i) keysyms.push_back(all[i * mapping->keysyms_per_keycode]);
    }

    std::optional<int> appleKeyCode(xcb_keycode_t keycode) const
    {
        if (keycode < minKeycode || std::size_t(keycode - minKeycode) >= keysyms.size()) return std::nullopt;
        return X11EventMonitors::appleKeyCode(keysyms[keycode - minKeycode]);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (!grabbed || eventType != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        // Under the grab every key is reported on the root window; Qt would drop it anyway.
        if (key->event != root) return false;
        if (type == XCB_KEY_RELEASE) {
            down.erase(key->detail);
            if (!onKeyDown && down.empty()) ungrab();
            return true;
        }
        down.insert(key->detail);
        if (const auto code = appleKeyCode(key->detail); code && onKeyDown) {
            // A copy: the handler may end the overlay, and with it this reporting.
            const auto report = onKeyDown;
            report(KeyEvent {*code, (key->state & XCB_MOD_MASK_SHIFT) != 0});
        }
        return true;
    }
};

X11KeyboardGrab::X11KeyboardGrab() : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.connection = qtConnection();
    if (s.connection) s.root = rootOf(s.connection);
    if (QCoreApplication* app = QCoreApplication::instance()) app->installNativeEventFilter(&s);
    s.retry.setInterval(retryInterval);
    QObject::connect(&s.retry, &QTimer::timeout, [&s] {
        if (s.tryGrab() || std::chrono::steady_clock::now() >= s.retryUntil) s.retry.stop();
    });
    s.releaseWait.setSingleShot(true);
    QObject::connect(&s.releaseWait, &QTimer::timeout, [&s] { s.ungrab(); });
}

X11KeyboardGrab::~X11KeyboardGrab()
{
    state_->ungrab();
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(state_.get());
}

void X11KeyboardGrab::take(std::function<void(const KeyEvent&)> onKeyDown)
{
    State& s = *state_;
    s.onKeyDown = std::move(onKeyDown);
    s.releaseWait.stop();
    if (s.grabbed || !s.connection) return;
    s.readKeyboardMapping();
    if (s.tryGrab()) return;
    s.retryUntil = std::chrono::steady_clock::now() + retryLimit;
    s.retry.start();
}

void X11KeyboardGrab::giveBack()
{
    State& s = *state_;
    s.onKeyDown = nullptr;
    s.retry.stop();
    if (s.down.empty()) {
        s.ungrab();
    } else {
        s.releaseWait.start(releaseLimit);
    }
}

bool X11KeyboardGrab::held() const
{
    return state_->grabbed;
}

} // namespace zorvane
