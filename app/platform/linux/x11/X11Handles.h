#pragma once

// The few Xlib names the adapters' public headers need, without Xlib itself: Xlib's macros (Status,
// Bool, None, Success, …) would break the code that includes them. The declarations are the same
// as Xlib's, so both may be seen in one file.

#include <memory>

typedef struct _XDisplay Display;

namespace zorvane::x11 {

// An X resource id (window, pixmap, atom …): Xlib's XID.
using XID = unsigned long;

struct DisplayCloser {
    void operator()(Display* display) const;
};
// A connection of our own. X errors on it never end the process: outside an ErrorTrap they are
// dropped, inside one they are recorded by the trap.
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Connects to `name` (DISPLAY when null). Null when the server cannot be reached.
DisplayPtr openDisplay(const char* name = nullptr);

} // namespace zorvane::x11
