#pragma once

#include "app/platform/WindowImages.h"
#include "app/platform/linux/x11/X11Handles.h"
#include "app/platform/linux/x11/X11Screens.h"

#include <memory>
#include <mutex>
#include <optional>

namespace zorvane {

// The WindowImages port on X11. The whole screen comes from the root window through shared memory
// (XShmGetImage; plain XGetImage where the server refuses shared memory, as over the network).
// "Below a window" composites the top-level windows under it from their off-screen pixmaps, which
// the server keeps only for redirected windows: creating this object redirects every top-level
// window (automatic redirection, the server still paints the screen), so do it once at start-up;
// pixmaps of windows redirected just before a capture would still be blank. Callable from any
// thread; captures are serialised on the object's own connection.
class X11WindowImages : public WindowImages {
public:
    // None when no X server can be reached.
    static std::unique_ptr<X11WindowImages> create(const char* displayName = nullptr);
    ~X11WindowImages() override;

    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override;

    // The same in root pixels, for a known scale (benchmarks and tests compare both paths with it).
    std::optional<WindowImage> rootImage(const PixelRect& pixels, double scale);
    std::optional<WindowImage> imageBelow(x11::XID window, const PixelRect& pixels, double scale);

    bool canCompositeBelow() const { return composite_; }

private:
    explicit X11WindowImages(x11::DisplayPtr display);
    // Reads a drawable's rectangle (inside its bounds) into the image at (dx, dy).
    bool read(x11::XID drawable, const PixelRect& source, WindowImage& image, int dx, int dy);
    bool readShared(x11::XID drawable, const PixelRect& source, WindowImage& image, int dx, int dy);
    bool ensureSharedSegment(std::size_t bytes);
    void releaseSharedSegment();
    std::optional<WindowImage> composeBelow(x11::XID topLevel, const PixelRect& pixels, double scale);
    bool isOnScreen(x11::XID window);

    std::mutex mutex_;
    x11::DisplayPtr display_;
    bool composite_ = false;
    bool shm_ = false;
    struct SharedSegment;
    std::unique_ptr<SharedSegment> segment_;
};

} // namespace zorvane
