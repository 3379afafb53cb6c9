#pragma once

namespace zorvane {

// Whether this session lets us read other applications' pixels: yes on an X11 session; no on a
// Wayland session, where only XWayland's own clients can be read and the rest would come out
// black. Callable from any thread.
class X11ScreenRecording {
public:
    static bool isGranted();
};

} // namespace zorvane
