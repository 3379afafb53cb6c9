#include "tests/support/WaylandWorld.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <wayland-client.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zorvane::testing {

namespace {

// The two input protocols of the compositors, described as wayland-scanner would (Debian ships
// the XML of neither in a package the tests need otherwise).
const wl_interface* noTypes[8] = {};
const wl_message fakeInputRequests[] = {{"authenticate", "ss", noTypes}, {"pointer_motion", "ff", noTypes},
    {"button", "uu", noTypes}, {"axis", "uf", noTypes}, {"touch_down", "2uff", noTypes}, {"touch_motion", "2uff", noTypes},
    {"touch_up", "2u", noTypes}, {"touch_cancel", "2", noTypes}, {"touch_frame", "2", noTypes},
    {"pointer_motion_absolute", "3ff", noTypes}, {"keyboard_key", "4uu", noTypes}};
const wl_interface fakeInputInterface = {"org_kde_kwin_fake_input", 4, 11, fakeInputRequests, 0, nullptr};
const wl_message virtualPointerRequests[] = {{"motion", "uff", noTypes}, {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes}, {"axis", "uuf", noTypes}, {"frame", "", noTypes}, {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes}, {"destroy", "", noTypes}};
const wl_interface virtualPointerInterface = {"zwlr_virtual_pointer_v1", 2, 9, virtualPointerRequests, 0, nullptr};
const wl_interface* createPointerTypes[] = {&wl_seat_interface, &virtualPointerInterface};
const wl_message pointerManagerRequests[] = {{"create_virtual_pointer", "?on", createPointerTypes}, {"destroy", "", noTypes}};
const wl_interface pointerManagerInterface = {"zwlr_virtual_pointer_manager_v1", 1, 2, pointerManagerRequests, 0, nullptr};

constexpr int buttonLeft = 272;

// Linux key codes of the keys the tests type.
int keyCode(char c)
{
    static const std::string rows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const int firsts[] = {2, 16, 30, 44};
    for (int r = 0; r < 4; ++r)
        if (auto at = rows[r].find(char(std::tolower(static_cast<unsigned char>(c)))); at != std::string::npos) return firsts[r] + int(at);
    return c == ' ' ? 57 : -1;
}

int namedKey(const std::string& name)
{
    return name == "Return" ? 28 : name == "Escape" ? 1 : name == "space" ? 57 : name.size() == 1 ? keyCode(name[0]) : -1;
}

GVariant* call(GDBusConnection* bus, const char* service, const char* path, const char* interface, const char* method,
    GVariant* arguments, GUnixFDList* fds = nullptr)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(bus, service, path, interface, method, arguments, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10000, fds, nullptr, nullptr, &error);
    if (error) g_error_free(error);
    return reply;
}

// The one string of a reply ("(o)", "(s)" or a property "(v)"), released; empty without one.
std::string text(GVariant* reply)
{
    if (!reply) return {};
    GVariant* child = g_variant_get_child_value(reply, 0);
    if (g_variant_is_of_type(child, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(child);
        g_variant_unref(child);
        child = inner;
    }
    std::string result = g_variant_is_of_type(child, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(child, G_VARIANT_TYPE_OBJECT_PATH)
        ? g_variant_get_string(child, nullptr) : "";
    g_variant_unref(child);
    g_variant_unref(reply);
    return result;
}

} // namespace

// One virtual pointer and keyboard for the whole world.
struct WaylandWorld::Input {
    WaylandDesktop desktop;
    wl_display* display = nullptr;
    wl_proxy* device = nullptr; // KWin's fake input or sway's virtual pointer
    GDBusConnection* bus = nullptr;
    std::string session;                                    // GNOME's remote desktop session
    std::vector<std::pair<std::string, std::pair<int, int>>> streams; // GNOME: a stream per output, its origin
    std::pair<int, int> extent {2304, 800};
    std::pair<int, int> last {0, 0};

    explicit Input(WaylandDesktop d) : desktop(d)
    {
        if (desktop == WaylandDesktop::gnome) {
            // Mutter's remote desktop: absolute motion is relative to a screen-cast stream of a monitor.
            bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
            const char* rd = "org.gnome.Mutter.RemoteDesktop";
            const char* sc = "org.gnome.Mutter.ScreenCast";
            session = text(call(bus, rd, "/org/gnome/Mutter/RemoteDesktop", rd, "CreateSession", nullptr));
            const std::string id = text(call(bus, rd, session.c_str(), "org.freedesktop.DBus.Properties", "Get",
                g_variant_new("(ss)", "org.gnome.Mutter.RemoteDesktop.Session", "SessionId")));
            const std::string cast = text(call(bus, sc, "/org/gnome/Mutter/ScreenCast", sc, "CreateSession",
                g_variant_new_parsed("({'remote-desktop-session-id': <%s>},)", id.c_str())));
            for (const auto& [connector, origin] : {std::pair {"Meta-0", 0}, {"Meta-1", 1280}})
                streams.push_back({text(call(bus, sc, cast.c_str(), "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                                       g_variant_new_parsed("(%s, @a{sv} {})", connector))), {origin, 0}});
            if (session.empty() || streams.back().first.empty()) throw std::runtime_error("WaylandWorld: no remote desktop session");
            call(bus, rd, session.c_str(), "org.gnome.Mutter.RemoteDesktop.Session", "Start", nullptr);
            return;
        }
        display = wl_display_connect(nullptr);
        if (!display) throw std::runtime_error("WaylandWorld: cannot connect for input");
        wl_registry* registry = wl_display_get_registry(display);
        static const wl_registry_listener listener = {
            [](void* data, wl_registry* r, std::uint32_t name, const char* interface, std::uint32_t) {
                auto* self = static_cast<Input*>(data);
                if (std::strcmp(interface, fakeInputInterface.name) == 0)
                    self->device = static_cast<wl_proxy*>(wl_registry_bind(r, name, &fakeInputInterface, 4));
                else if (std::strcmp(interface, pointerManagerInterface.name) == 0)
                    self->device = static_cast<wl_proxy*>(wl_registry_bind(r, name, &pointerManagerInterface, 1));
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(display);
        if (!device) throw std::runtime_error("WaylandWorld: the compositor offers no input for tests");
        if (desktop == WaylandDesktop::sway) {
            device = wl_proxy_marshal_flags(device, 0, &virtualPointerInterface, 1, 0, nullptr, nullptr);
        } else {
            wl_proxy_marshal_flags(device, 0, nullptr, 4, 0, "zorvane-tests", "input");
            extent = {2560, 800};
        }
        wl_display_roundtrip(display);
    }

    ~Input()
    {
        if (display) wl_display_disconnect(display);
        if (bus) g_object_unref(bus);
    }

    void flush()
    {
        if (display) wl_display_roundtrip(display);
    }

    void remote(const char* method, GVariant* arguments)
    {
        if (GVariant* r = call(bus, "org.gnome.Mutter.RemoteDesktop", session.c_str(), "org.gnome.Mutter.RemoteDesktop.Session", method, arguments))
            g_variant_unref(r);
    }

    void pointerTo(int x, int y)
    {
        last = {x, y};
        if (desktop == WaylandDesktop::gnome) {
            // The stream of the rightmost monitor that starts at or left of x.
            const auto* target = &streams.front();
            for (const auto& s : streams)
                if (s.second.first <= x) target = &s;
            const auto& [stream, origin] = *target;
            return remote("NotifyPointerMotionAbsolute", g_variant_new("(sdd)", stream.c_str(), double(x - origin.first), double(y - origin.second)));
        }
        if (desktop == WaylandDesktop::sway) {
            wl_proxy_marshal_flags(device, 1, nullptr, 1, 0, 0u, std::uint32_t(x), std::uint32_t(y), std::uint32_t(extent.first), std::uint32_t(extent.second));
            wl_proxy_marshal_flags(device, 4, nullptr, 1, 0);
        } else {
            wl_proxy_marshal_flags(device, 9, nullptr, 4, 0, wl_fixed_from_int(x), wl_fixed_from_int(y));
        }
        flush();
    }

    void button(bool pressed)
    {
        if (desktop == WaylandDesktop::gnome) return remote("NotifyPointerButton", g_variant_new("(ib)", buttonLeft, pressed));
        if (desktop == WaylandDesktop::sway) {
            wl_proxy_marshal_flags(device, 2, nullptr, 1, 0, 0u, std::uint32_t(buttonLeft), std::uint32_t(pressed));
            wl_proxy_marshal_flags(device, 4, nullptr, 1, 0);
        } else {
            wl_proxy_marshal_flags(device, 2, nullptr, 4, 0, std::uint32_t(buttonLeft), std::uint32_t(pressed));
        }
        flush();
    }

    void key(int code, bool pressed)
    {
        if (desktop == WaylandDesktop::gnome) return remote("NotifyKeyboardKeycode", g_variant_new("(ub)", std::uint32_t(code), pressed));
        wl_proxy_marshal_flags(device, 10, nullptr, 4, 0, std::uint32_t(code), std::uint32_t(pressed));
        flush();
    }
};

WaylandWorld::WaylandWorld(WaylandDesktop desktop, const std::function<void()>& beforeDesktop) : desktop_(desktop)
{
    try {
        char pattern[] = "/tmp/zorvane-wayland-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("WaylandWorld: cannot create a temporary directory");
        root_ = pattern;
        home_ = root_ / "home";
        runtimeDir_ = root_ / "run";
        std::filesystem::create_directories(home_ / ".local/bin");
        std::filesystem::create_directories(runtimeDir_);
        chmod(runtimeDir_.c_str(), 0700);
        processes_.emplace(root_ / "logs");
        environment_.set("HOME", home_.string());
        environment_.set("XDG_RUNTIME_DIR", runtimeDir_.string());
        for (const auto& [name, folder] : {std::pair {"XDG_CONFIG_HOME", ".config"}, {"XDG_DATA_HOME", ".local/share"}, {"XDG_CACHE_HOME", ".cache"}})
            environment_.set(name, (home_ / folder).string());
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM", "SWAYSOCK", "NO_AT_BRIDGE", "QT_SCALE_FACTOR",
                 "QT_SCREEN_SCALE_FACTORS", "GDK_BACKEND"})
            environment_.set(name, std::nullopt);
        environment_.set("XDG_SESSION_TYPE", "wayland");
        environment_.set("DBUS_SESSION_BUS_ADDRESS", busAddress(runtimeDir_ / "bus"));

        // Screen casts and the portals' screenshots go through PipeWire.
        processes_->start({"pipewire"});
        if (!waitUntil(10, [&] { return std::filesystem::exists(runtimeDir_ / "pipewire-0"); }))
            throw std::runtime_error("WaylandWorld: PipeWire did not start");
        processes_->start({"wireplumber"});
        if (beforeDesktop) beforeDesktop();
        if (desktop == WaylandDesktop::sway) startSway();
        if (desktop == WaylandDesktop::kwin) startKWin();
        if (desktop == WaylandDesktop::gnome) startGnome();
        std::vector<std::string> activation {"dbus-update-activation-environment", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
            "XDG_DATA_HOME", "XDG_CACHE_HOME", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM=wayland"};
        if (processes_->run(activation, 10) != 0) throw std::runtime_error("WaylandWorld: cannot pass the environment to the bus");

        // Assistive technologies on, as a screen reader leaves them.
        processes_->start({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
        const bool accessible = waitUntil(10, [this] {
            return processes_->run({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus", "--method",
                       "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled", "<true>"}, 5) == 0;
        });
        if (!accessible) throw std::runtime_error("WaylandWorld: the accessibility bus did not start");
        input_ = std::make_unique<Input>(desktop);
        // The first key after a keyboard appears never arrives: spend it.
        key("space");
    } catch (...) {
        input_.reset();
        if (processes_) processes_->stopAll();
        environment_.restore();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        throw;
    }
}

WaylandWorld::~WaylandWorld()
{
    input_.reset();
    processes_->stopAll();
    environment_.restore();
    // The document portal's mount may outlive its process for a moment.
    processes_->run({"fusermount", "-uz", (runtimeDir_ / "doc").string()}, 5);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string WaylandWorld::busAddress(const std::filesystem::path& socket)
{
    const std::string printed = processes_->startAndReadLine(
        {"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=unix:path=" + socket.string(), "--print-address={fd}"}, 10);
    if (printed.empty()) throw std::runtime_error("WaylandWorld: a bus did not start");
    return printed;
}

void WaylandWorld::startSway()
{
    environment_.set("XDG_CURRENT_DESKTOP", "sway");
    // sway will not run as root: its own folder, owned by the user it runs as.
    const passwd* nobody = getpwnam("nobody");
    const auto swayDir = root_ / "sway";
    std::filesystem::create_directories(swayDir);
    std::ofstream(swayDir / "config") << "output HEADLESS-1 resolution 1280x800 position 0,0\ndefault_border none\n";
    chmod(root_.c_str(), 0711);
    if (!nobody || chown(swayDir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) throw std::runtime_error("WaylandWorld: no user for sway");
    chmod(swayDir.c_str(), 0700);
    processes_->start({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "HOME=/nonexistent",
        "XDG_RUNTIME_DIR=" + swayDir.string(), "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c",
        (swayDir / "config").string()});
    std::filesystem::path socket, ipc;
    waitUntil(10, [&] {
        for (const auto& entry : std::filesystem::directory_iterator(swayDir)) {
            const std::string name = entry.path().filename();
            if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) socket = entry.path();
            if (name.rfind("sway-ipc", 0) == 0) ipc = entry.path();
        }
        return !socket.empty() && !ipc.empty();
    });
    if (socket.empty() || ipc.empty()) throw std::runtime_error("WaylandWorld: sway did not start");
    environment_.set("WAYLAND_DISPLAY", socket.string());
    environment_.set("SWAYSOCK", ipc.string());
    if (processes_->run({"swaymsg", "create_output"}, 10) != 0
        || processes_->run({"swaymsg", "output", "HEADLESS-2", "resolution", "1024x768", "position", "1280", "0"}, 10) != 0)
        throw std::runtime_error("WaylandWorld: sway has no second output");
}

void WaylandWorld::startKWin()
{
    environment_.set("XDG_CURRENT_DESKTOP", "KDE");
    // A copy has no file capability; KWin insists on its own name.
    const auto kwin = root_ / "bin" / "kwin_wayland";
    std::filesystem::create_directories(kwin.parent_path());
    std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin);
    processes_->start({kwin.string(), "--virtual", "--width", "1280", "--height", "800", "--output-count", "2", "--socket", "wayland-kw"},
        {{"KWIN_WAYLAND_NO_PERMISSION_CHECKS", "1"}});
    if (!waitUntil(20, [&] { return std::filesystem::exists(runtimeDir_ / "wayland-kw"); }))
        throw std::runtime_error("WaylandWorld: KWin did not start");
    environment_.set("WAYLAND_DISPLAY", "wayland-kw");
    // The harness's screenshots come through KWin's own interface, which answers programs its
    // desktop entries name.
    const auto entries = home_ / ".local/share/applications";
    std::filesystem::create_directories(entries);
    std::ofstream(entries / "zorvane-test-harness.desktop") << "[Desktop Entry]\nType=Application\nName=Harness\nExec="
                                                            << std::filesystem::read_symlink("/proc/self/exe").string()
                                                            << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
}

void WaylandWorld::startGnome()
{
    environment_.set("XDG_CURRENT_DESKTOP", "GNOME");
    // The shell wants a system bus; a private stand-in keeps it off the machine's.
    environment_.set("DBUS_SYSTEM_BUS_ADDRESS", busAddress(runtimeDir_ / "system-bus"));
    processes_->start({"gnome-shell", "--headless", "--unsafe-mode", "--wayland", "--no-x11", "--wayland-display", "wayland-gs",
        "--virtual-monitor", "1280x800", "--virtual-monitor", "1024x768"});
    environment_.set("WAYLAND_DISPLAY", "wayland-gs");
    // It starts in the overview and greets with a notice: neither is part of a user's desktop.
    const bool ready = waitUntil(30, [&] {
        std::string out;
        processes_->run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell", "--method",
                            "org.gnome.Shell.Eval", "Main.overview.hide(); Main.messageTray._bannerBin.hide(); Main.layoutManager._startingUp"},
            5, &out);
        return out.find("(true, 'false')") != std::string::npos;
    });
    if (!ready) throw std::runtime_error("WaylandWorld: GNOME Shell did not start");
}

std::vector<WaylandWorld::Output> WaylandWorld::outputs() const
{
    if (desktop_ == WaylandDesktop::kwin) return {{0, 0, 1280, 800}, {1280, 0, 1280, 800}};
    return {{0, 0, 1280, 800}, {1280, 0, 1024, 768}};
}

pid_t WaylandWorld::spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra)
{
    return processes_->start(argv, extra);
}

void WaylandWorld::rememberScreenshotAnswer(std::optional<bool> allowed)
{
    const std::vector<std::string> store {"gdbus", "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore",
        "--object-path", "/org/freedesktop/impl/portal/PermissionStore", "--method"};
    auto argv = store;
    if (allowed) argv.insert(argv.end(), {"org.freedesktop.impl.portal.PermissionStore.SetPermission", "screenshot", "true", "screenshot", "",
                                             *allowed ? "['yes']" : "['no']"});
    else argv.insert(argv.end(), {"org.freedesktop.impl.portal.PermissionStore.DeletePermission", "screenshot", "screenshot", ""});
    processes_->run(argv, 10);
}

pid_t WaylandWorld::startColourWindow(const std::string& hexColour)
{
    const std::string script = "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk, Gdk\n"
                               "css = Gtk.CssProvider(); css.load_from_data(b'window { background: #" + hexColour + "; }')\n"
                               "Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), css, 600)\n"
                               "w = Gtk.Window(title='Color'); w.set_decorated(False); w.move(0, 0); w.resize(1280, 800)\n"
                               "w.connect('destroy', Gtk.main_quit); w.show_all(); Gtk.main()\n";
    return processes_->start({"/usr/bin/python3", "-c", script}, {{"GDK_BACKEND", "wayland"}});
}

std::filesystem::path WaylandWorld::screenshot(const std::string& name)
{
    const char* kept = std::getenv("ZORVANE_SCREENSHOT_DIR");
    const auto png = (kept && *kept ? std::filesystem::path(kept) : home_) / (name + ".png");
    std::filesystem::remove(png);
    if (desktop_ == WaylandDesktop::sway) {
        // A headless sway output draws anew only when something on it changes: the pointer passes.
        const auto back = input_ ? input_->last : std::pair {0, 0};
        for (const Output& o : outputs())
            if (input_) input_->pointerTo(o.x + o.width - 20, o.y + o.height - 20);
        if (input_) input_->pointerTo(back.first, back.second);
        processes_->run({"grim", png.string()}, 20);
    }
    if (desktop_ == WaylandDesktop::gnome)
        processes_->run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell.Screenshot", "--object-path", "/org/gnome/Shell/Screenshot",
                            "--method", "org.gnome.Shell.Screenshot.Screenshot", "false", "false", png.string()}, 20);
    if (desktop_ == WaylandDesktop::kwin) {
        // KWin's raw pixels over a pipe, made a PNG by ImageMagick.
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return {};
        std::string raw;
        std::thread reader([&] {
            char chunk[65536];
            for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) raw.append(chunk, std::size_t(n));
        });
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1); // takes the write end
        GVariant* reply = call(bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWorkspace",
            g_variant_new_parsed("(@a{sv} {}, @h 0)"), list);
        g_object_unref(list);
        reader.join();
        close(fds[0]);
        std::uint32_t width = 0, height = 0;
        if (GVariant* results = reply ? g_variant_get_child_value(reply, 0) : nullptr) {
            g_variant_lookup(results, "width", "u", &width), g_variant_lookup(results, "height", "u", &height);
            g_variant_unref(results), g_variant_unref(reply);
        }
        g_object_unref(bus);
        std::ofstream(root_ / "screenshot.bgra", std::ios::binary) << raw;
        processes_->run({"convert", "-size", std::to_string(width) + "x" + std::to_string(height), "-depth", "8",
                            "bgra:" + (root_ / "screenshot.bgra").string(), png.string()}, 20);
    }
    return std::filesystem::exists(png) ? png : std::filesystem::path();
}

std::optional<std::uint32_t> WaylandWorld::pixel(int x, int y)
{
    const auto png = screenshot("pixel");
    std::string hex;
    if (png.empty() || processes_->run({"convert", png.string(), "-format", "%[hex:p{" + std::to_string(x) + "," + std::to_string(y) + "}]",
                                           "info:"}, 20, &hex) != 0 || hex.size() < 6)
        return std::nullopt;
    return std::uint32_t(std::stoul(hex.substr(0, 6), nullptr, 16));
}

void WaylandWorld::pointerTo(int x, int y) { input_->pointerTo(x, y); }

void WaylandWorld::button(bool pressed) { input_->button(pressed); }

void WaylandWorld::type(const std::string& text)
{
    // sway's keys come from wtype, whose keyboard is new each time: a key spent first.
    if (desktop_ == WaylandDesktop::sway) {
        processes_->run({"wtype", "-k", "Shift_L", "-s", "100", "-d", "10", text}, 20);
        return;
    }
    for (char c : text) {
        if (const int code = keyCode(c); code >= 0) {
            input_->key(code, true);
            input_->key(code, false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

void WaylandWorld::key(const std::string& name, bool ctrlAlt)
{
    if (desktop_ == WaylandDesktop::sway) {
        std::vector<std::string> argv {"wtype", "-k", "Shift_L", "-s", "100"};
        if (ctrlAlt) argv.insert(argv.end(), {"-M", "ctrl", "-M", "alt"});
        argv.insert(argv.end(), {"-k", name});
        if (ctrlAlt) argv.insert(argv.end(), {"-m", "alt", "-m", "ctrl"});
        processes_->run(argv, 20);
        return;
    }
    if (ctrlAlt) input_->key(29, true), input_->key(56, true);
    input_->key(namedKey(name), true);
    input_->key(namedKey(name), false);
    if (ctrlAlt) input_->key(56, false), input_->key(29, false);
}

} // namespace zorvane::testing
