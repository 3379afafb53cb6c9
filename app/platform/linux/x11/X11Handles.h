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

// A lost server never ends the process from inside Xlib (which would skip every teardown, from
// whichever thread noticed): `report` is called instead, from that thread, and the connections go
// on failing quietly until they are closed. Call once the toolkit has started (it installs a
// handler of its own), with every connection to survive: ours (openDisplay adds its own) and the
// toolkit's.
void reportConnectionLoss(void (*report)());
void surviveConnectionLoss(Display* display);

} // namespace zorvane::x11
