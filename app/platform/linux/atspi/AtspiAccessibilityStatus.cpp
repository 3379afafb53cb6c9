#include "app/platform/linux/atspi/AtspiAccessibilityStatus.h"

#include <gio/gio.h>

#include <memory>
#include <mutex>
#include <string>

namespace zorvane {

namespace {

constexpr const char* busName = "org.a11y.Bus";
constexpr const char* objectPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";

struct Unref {
    void operator()(GDBusConnection* c) const { g_object_unref(c); }
    void operator()(GVariant* v) const { g_variant_unref(v); }
};

// A connection of our own rather than GLib's shared one, which would exit the process when the
// bus goes away. Kept between calls; made again when closed or when the session bus changes.
struct SessionBus {
    std::mutex mutex;
    std::string address;
    std::unique_ptr<GDBusConnection, Unref> connection;
};

std::shared_ptr<GDBusConnection> sessionBus(SessionBus& bus)
{
    gchar* found = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!found) return nullptr;
    const std::string address = found;
    g_free(found);
    std::lock_guard lock(bus.mutex);
    if (!bus.connection || bus.address != address || g_dbus_connection_is_closed(bus.connection.get())) {
        bus.connection.reset(g_dbus_connection_new_for_address_sync(address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr));
        bus.address = address;
        if (!bus.connection) return nullptr;
        g_dbus_connection_set_exit_on_close(bus.connection.get(), FALSE);
    }
    // GDBus connections may be used from any thread; the reference keeps this one alive while in use.
    return std::shared_ptr<GDBusConnection>(static_cast<GDBusConnection*>(g_object_ref(bus.connection.get())), [](GDBusConnection* c) { g_object_unref(c); });
}

SessionBus& sharedSessionBus()
{
    static SessionBus* bus = new SessionBus; // lives as long as the process: any thread may use it at exit
    return *bus;
}

} // namespace

AtspiAccessibilityStatus::AtspiAccessibilityStatus(std::chrono::milliseconds timeout) : timeout_(timeout) {}

bool AtspiAccessibilityStatus::isEnabled() const
{
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!known_ || now - readAt_ >= reuse) {
        known_ = read();
        readAt_ = now;
    }
    return *known_;
}

bool AtspiAccessibilityStatus::read() const
{
    const int timeoutMs = static_cast<int>(timeout_.count());
    const auto bus = sessionBus(sharedSessionBus());
    if (!bus) return false;
    std::unique_ptr<GVariant, Unref> reply(g_dbus_connection_call_sync(bus.get(), busName, objectPath,
        "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", statusInterface, "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr));
    if (!reply) return false;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    std::unique_ptr<GVariant, Unref> value(boxed);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
}

bool AtspiAccessibilityStatus::enable()
{
    const int timeoutMs = static_cast<int>(timeout_.count());
    if (const auto bus = sessionBus(sharedSessionBus())) {
        std::unique_ptr<GVariant, Unref> reply(g_dbus_connection_call_sync(bus.get(), busName, objectPath,
            "org.freedesktop.DBus.Properties", "Set",
            g_variant_new("(ssv)", statusInterface, "IsEnabled", g_variant_new_boolean(TRUE)), nullptr, G_DBUS_CALL_FLAGS_NONE,
            timeoutMs, nullptr, nullptr));
    }
    std::lock_guard lock(mutex_);
    known_ = read();
    readAt_ = std::chrono::steady_clock::now();
    return *known_;
}

} // namespace zorvane
