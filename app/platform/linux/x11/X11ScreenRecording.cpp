#include "app/platform/linux/x11/X11ScreenRecording.h"

#include "app/platform/linux/x11/X11Support.h"

#include <cstdlib>
#include <cstring>

namespace zorvane {

bool X11ScreenRecording::isGranted()
{
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    if ((sessionType && std::strcmp(sessionType, "wayland") == 0) || (waylandDisplay && *waylandDisplay))
        return false;
    auto display = x11::openDisplay();
    if (!display) return false;
    // XWayland also says so itself, whatever the environment claims.
    int opcode = 0, event = 0, error = 0;
    return !XQueryExtension(display.get(), "XWAYLAND", &opcode, &event, &error);
}

} // namespace zorvane
