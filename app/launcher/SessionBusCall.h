#pragma once

namespace zorvane::launcher {

// One method call without arguments on the user's session bus, spoken with plain POSIX (a Unix
// socket, the EXTERNAL authentication, two messages), so that a later launch can hand its request to
// the running Zorvane without loading a toolkit or a D-Bus library: it links nothing but the C
// library and allocates nothing.
//
// The bus is the one the environment names (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus),
// and is used only when the process at the other end of the socket runs as this user: an abstract
// socket name can be taken by anyone, and no other user's bus hears our requests. The call never
// starts a service (no auto-start).
enum class CallResult {
    returned,   // the method ran and returned
    noReceiver, // no bus, a bus of another user, or nobody owns the name (or it refused the call)
    unanswered, // the name has an owner, but no answer came in time
};

CallResult callOnSessionBus(const char* destination, const char* path, const char* interface, const char* member,
                            int timeoutMilliseconds);

} // namespace zorvane::launcher
