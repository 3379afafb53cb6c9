// The wlroots screen copy protocol (wlr-screencopy-unstable-v1), spoken over a connection of our
// own. Debian ships no XML of it, so its two interfaces are described here, as wayland-scanner
// would describe them.
#include "app/platform/linux/wayland/OffMainThread.h"
#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace zorvane {

namespace {

extern const wl_interface screencopyFrameInterface;

const wl_interface* screencopyTypes[] = {
    nullptr, nullptr, nullptr, nullptr,
    &screencopyFrameInterface, nullptr, &wl_output_interface,
    &screencopyFrameInterface, nullptr, &wl_output_interface, nullptr, nullptr, nullptr, nullptr,
    &wl_buffer_interface,
};
const wl_message managerRequests[] = {
    {"capture_output", "nio", screencopyTypes + 4},
    {"capture_output_region", "nioiiii", screencopyTypes + 7},
    {"destroy", "", screencopyTypes},
};
const wl_message frameRequests[] = {
    {"copy", "o", screencopyTypes + 14},
    {"destroy", "", screencopyTypes},
    {"copy_with_damage", "2o", screencopyTypes + 14},
};
const wl_message frameEvents[] = {
    {"buffer", "uuuu", screencopyTypes},
    {"flags", "u", screencopyTypes},
    {"ready", "uuu", screencopyTypes},
    {"failed", "", screencopyTypes},
    {"damage", "2uuuu", screencopyTypes},
    {"linux_dmabuf", "3uuu", screencopyTypes},
    {"buffer_done", "3", screencopyTypes},
};
const wl_interface screencopyManagerInterface = {"zwlr_screencopy_manager_v1", 3, 3, managerRequests, 0, nullptr};
const wl_interface screencopyFrameInterface = {"zwlr_screencopy_frame_v1", 3, 3, frameRequests, 7, frameEvents};

using Clock = std::chrono::steady_clock;

struct Output {
    wl_output* proxy = nullptr;
    QString name;
    QPoint position;
};

struct Globals {
    wl_shm* shm = nullptr;
    wl_proxy* manager = nullptr;
    std::deque<Output> outputs; // listeners hold their addresses
};

struct Frame {
    std::uint32_t format = 0, width = 0, height = 0, stride = 0;
    bool described = false, ready = false, failed = false, yInverted = false;
};

// Reads events until `finished` says so or the deadline passes.
bool dispatchUntil(wl_display* display, Clock::time_point deadline, const std::function<bool()>& finished)
{
    while (!finished()) {
        if (wl_display_dispatch_pending(display) < 0) return false;
        if (finished()) return true;
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0) return false;
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd fd {wl_display_get_fd(display), POLLIN, 0};
        if (left <= 0 || ::poll(&fd, 1, int(left)) <= 0) {
            wl_display_cancel_read(display);
            return false;
        }
        if (wl_display_read_events(display) < 0) return false;
    }
    return true;
}

// wl_display_roundtrip, with the deadline.
bool roundtrip(wl_display* display, Clock::time_point deadline)
{
    bool done = false;
    static const wl_callback_listener listener = {[](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &listener, &done);
    const bool answered = dispatchUntil(display, deadline, [&] { return done; });
    wl_callback_destroy(callback);
    return answered;
}

const wl_registry_listener registryListener = {
    [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
        auto& globals = *static_cast<Globals*>(data);
        if (std::strcmp(interface, wl_shm_interface.name) == 0) {
            globals.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        } else if (std::strcmp(interface, screencopyManagerInterface.name) == 0) {
            globals.manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &screencopyManagerInterface, std::min(version, 3u)));
        } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
            // Version 4 names the output as Qt does.
            globals.outputs.push_back({static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 4u))), {}, {}});
        }
    },
    [](void*, wl_registry*, std::uint32_t) {},
};

const wl_output_listener outputListener = {
    [](void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {
        static_cast<Output*>(data)->position = QPoint(x, y);
    },
    [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    [](void*, wl_output*) {},
    [](void*, wl_output*, std::int32_t) {},
    [](void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = QString::fromUtf8(name); },
    [](void*, wl_output*, const char*) {},
};

struct FrameListener {
    void (*buffer)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*flags)(void*, wl_proxy*, std::uint32_t);
    void (*ready)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*failed)(void*, wl_proxy*);
    void (*damage)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*linuxDmabuf)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*bufferDone)(void*, wl_proxy*);
};

const FrameListener frameListener = {
    [](void* data, wl_proxy*, std::uint32_t format, std::uint32_t width, std::uint32_t height, std::uint32_t stride) {
        auto& frame = *static_cast<Frame*>(data);
        frame.format = format, frame.width = width, frame.height = height, frame.stride = stride;
        frame.described = true;
    },
    [](void* data, wl_proxy*, std::uint32_t flags) { static_cast<Frame*>(data)->yInverted = flags & 1; },
    [](void* data, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t) { static_cast<Frame*>(data)->ready = true; },
    [](void* data, wl_proxy*) { static_cast<Frame*>(data)->failed = true; },
    [](void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_proxy*) {},
};

QImage::Format qtFormat(std::uint32_t shmFormat)
{
    switch (shmFormat) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888: return QImage::Format_RGB32;
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888: return QImage::Format_RGBX8888;
    default: return QImage::Format_Invalid;
    }
}

// One output's pixels, or a null image.
QImage copyOutput(wl_display* display, Globals& globals, wl_output* output, Clock::time_point deadline)
{
    Frame frame;
    auto* proxy = wl_proxy_marshal_flags(globals.manager, 0, &screencopyFrameInterface, wl_proxy_get_version(globals.manager), 0,
        nullptr, 0, output);
    if (!proxy) return {};
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<FrameListener*>(&frameListener)), &frame);
    const auto destroy = [proxy] { wl_proxy_marshal_flags(proxy, 1, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY); };

    QImage image;
    if (dispatchUntil(display, deadline, [&] { return frame.described || frame.failed; }) && !frame.failed
        && qtFormat(frame.format) != QImage::Format_Invalid && frame.stride >= frame.width * 4) {
        const std::size_t size = std::size_t(frame.stride) * frame.height;
        const int fd = ::memfd_create("zorvane-snapshot", MFD_CLOEXEC);
        void* pixels = fd >= 0 && ::ftruncate(fd, off_t(size)) == 0 ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
        if (pixels != MAP_FAILED) {
            wl_shm_pool* pool = wl_shm_create_pool(globals.shm, fd, int(size));
            wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, int(frame.width), int(frame.height), int(frame.stride), frame.format);
            wl_proxy_marshal_flags(proxy, 0, nullptr, wl_proxy_get_version(proxy), 0, buffer);
            if (dispatchUntil(display, deadline, [&] { return frame.ready || frame.failed; }) && frame.ready) {
                const QImage wrapped(static_cast<const uchar*>(pixels), int(frame.width), int(frame.height), int(frame.stride), qtFormat(frame.format));
                // A deep copy either way: the mapping goes below.
                image = frame.yInverted ? wrapped.mirrored(false, true) : wrapped.copy();
            }
            wl_buffer_destroy(buffer);
            wl_shm_pool_destroy(pool);
            ::munmap(pixels, size);
        }
        if (fd >= 0) ::close(fd);
    }
    destroy();
    return image;
}

SnapshotOutcome capture(const std::vector<SnapshotScreen>& screens, Clock::time_point deadline)
{
    const CaptureRefusal unavailable {"Este escritorio no ofrece la copia de pantalla de wlroots.", true};
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return unavailable;
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    bool answered = roundtrip(display, deadline);
    for (Output& output : globals.outputs) wl_output_add_listener(output.proxy, &outputListener, &output);
    answered = answered && roundtrip(display, deadline);

    SnapshotOutcome outcome = unavailable;
    if (answered && globals.shm && globals.manager) {
        DesktopSnapshot snapshot;
        for (const Output& output : globals.outputs) {
            // The screen Qt knows by the same name, else the one that starts where the output does.
            const auto screen = std::find_if(screens.begin(), screens.end(), [&](const SnapshotScreen& s) {
                return output.name.isEmpty() ? s.qtGeometry.topLeft() == output.position : s.name == output.name;
            });
            if (screen == screens.end()) continue;
            QImage image = copyOutput(display, globals, output.proxy, deadline);
            if (image.isNull()) {
                snapshot.parts.clear();
                break;
            }
            snapshot.parts.push_back({screen->quartzBounds, std::move(image)});
        }
        if (!snapshot.parts.empty()) outcome = std::move(snapshot);
        else outcome = CaptureRefusal {"La copia de pantalla de wlroots no entregó la imagen a tiempo.", true};
    }
    for (Output& output : globals.outputs) wl_output_destroy(output.proxy);
    if (globals.manager) wl_proxy_marshal_flags(globals.manager, 2, nullptr, wl_proxy_get_version(globals.manager), WL_MARSHAL_FLAG_DESTROY);
    if (globals.shm) wl_shm_destroy(globals.shm);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return outcome;
}

} // namespace

std::unique_ptr<SnapshotSource> makeWlrScreencopy() { return std::make_unique<BlockingSnapshotSource>(capture); }

} // namespace zorvane
