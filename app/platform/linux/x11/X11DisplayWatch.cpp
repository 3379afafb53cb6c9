#include "app/platform/linux/x11/X11DisplayWatch.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace zorvane {

std::unique_ptr<X11DisplayWatch> X11DisplayWatch::open()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11DisplayWatch>(new X11DisplayWatch(connection));
}

X11DisplayWatch::~X11DisplayWatch() { xcb_disconnect(connection_); }

int X11DisplayWatch::descriptor() const { return xcb_get_file_descriptor(connection_); }

bool X11DisplayWatch::isLost()
{
    // Nothing was asked for, so anything read is an error or a stray event, never an answer.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
    return xcb_connection_has_error(connection_) != 0;
}

} // namespace zorvane
