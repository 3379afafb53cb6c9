#pragma once

#include "app/platform/WindowImages.h"
#include "app/platform/linux/x11/X11Handles.h"
#include "app/platform/linux/x11/X11Screens.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zorvane {

// The WindowImages port on X11. Pixels come from the root window through shared memory
// (XShmGetImage; plain XGetImage where the server refuses shared memory, as over the network).
//
// Nothing is redirected: leaving our own windows out is done by time, not by compositing. The
// overlay pictures the whole desktop (holdSnapshot) just before its first panel shows, when none
// of our windows is on the screen; the capture that follows the selection is cut from that
// picture, which is then dropped. Without a picture, a capture below a window that is still on
// the screen gives none rather than an image that shows it. Callable from any thread; requests
// are serialised on the object's own connection.
class X11WindowImages : public WindowImages {
public:
    // The whole root, one pixel per pixel, blue, green, red, unused: in the shared memory the
    // server wrote it into (read where it lies, never copied), or in a buffer of our own.
    struct Snapshot {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::size_t stride = 0;
        const std::uint8_t* pixels = nullptr;
        std::vector<std::uint8_t> copied;
        void* shared = nullptr; // our mapping of the segment, the server's already detached
        Snapshot() = default;
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;
        ~Snapshot();
    };
    // A part of the held picture: the panels draw it under their veil.
    struct SnapshotPart {
        std::shared_ptr<const Snapshot> snapshot;
        PixelRect pixels; // the part, inside the snapshot
        double scale = 1; // pixels per point of the monitor shown
    };

    // None when no X server can be reached.
    static std::unique_ptr<X11WindowImages> create(const char* displayName = nullptr);
    ~X11WindowImages() override;

    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override;

    // Pictures the whole root window now and holds the picture, replacing any held before; false
    // when it cannot be read. Returns a number that names this picture for dropSnapshot.
    std::optional<std::uint64_t> holdSnapshot();
    // The part of the held picture showing the Quartz rectangle (a screen); none without one.
    std::optional<SnapshotPart> snapshotPart(const Rect& quartzRect);
    // Drops the held picture (only the one named, when a number is given).
    void dropSnapshot(std::optional<std::uint64_t> which = std::nullopt);

private:
    explicit X11WindowImages(x11::DisplayPtr display);
    // Reads a drawable's rectangle (inside its bounds) into the image at (dx, dy).
    bool read(x11::XID drawable, const PixelRect& source, WindowImage& image, int dx, int dy);
    bool readShared(x11::XID drawable, const PixelRect& source, WindowImage& image, int dx, int dy);
    bool ensureSharedSegment(std::size_t bytes);
    void releaseSharedSegment();
    std::optional<WindowImage> readRoot(const PixelRect& pixels, double scale);
    std::unique_ptr<Snapshot> readSharedSnapshot();
    bool isOnScreen(x11::XID window);
    X11MonitorLayout layout();

    std::mutex mutex_;
    x11::DisplayPtr display_;
    bool shm_ = false;
    struct SharedSegment;
    std::unique_ptr<SharedSegment> segment_;
    std::shared_ptr<const Snapshot> snapshot_;
    std::uint64_t snapshotNumber_ = 0;
};

} // namespace zorvane
