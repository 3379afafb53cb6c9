#include "app/ui/InstanceHandover.h"

// GIO only, no Qt here: GLib's headers and Qt's `signals` keyword do not mix.
#include <gio/gio.h>

namespace zorvane::ui {

bool handOverToRunningInstance(const char* method)
{
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    // No auto-start: without a running instance the call fails at once.
    GVariant* reply = g_dbus_connection_call_sync(bus, "com.quenvar.Zorvane", "/com/quenvar/Zorvane", "com.quenvar.Zorvane", method,
                                                  nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000, nullptr, &error);
    const bool delivered = reply != nullptr;
    if (reply) g_variant_unref(reply);
    g_clear_error(&error);
    g_object_unref(bus);
    return delivered;
}

} // namespace zorvane::ui
