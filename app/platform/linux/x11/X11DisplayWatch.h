#pragma once

#include <memory>

struct xcb_connection_t;

namespace zorvane {

// A connection to the X server that asks for nothing, so that its socket becomes readable only
// when the server closes it: the session's display has gone away. The desktop program watches
// descriptor() on its event loop and ends in order instead of leaving it to the toolkit, which
// exits on the spot.
class X11DisplayWatch {
public:
    // Null when the display cannot be reached.
    static std::unique_ptr<X11DisplayWatch> open();
    ~X11DisplayWatch();
    X11DisplayWatch(const X11DisplayWatch&) = delete;
    X11DisplayWatch& operator=(const X11DisplayWatch&) = delete;

    int descriptor() const;
    // Reads what the socket holds; true once the connection has ended.
    bool isLost();

private:
    explicit X11DisplayWatch(xcb_connection_t* connection) : connection_(connection) {}
    xcb_connection_t* connection_;
};

} // namespace zorvane
