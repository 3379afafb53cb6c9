#include "app/platform/linux/x11/X11WindowImages.h"

#include "app/platform/linux/x11/X11Support.h"

#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xrender.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorvane {

namespace {

std::optional<PixelRect> intersect(const PixelRect& a, const PixelRect& b)
{
    const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0) return std::nullopt;
    return PixelRect {x0, y0, x1 - x0, y1 - y0};
}

PixelRect rootBounds(Display* display)
{
    const int screen = DefaultScreen(display);
    return {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

// A black image of the rectangle's size.
WindowImage blankImage(const PixelRect& pixels, double scale)
{
    WindowImage image;
    image.width = static_cast<std::uint32_t>(pixels.width);
    image.height = static_cast<std::uint32_t>(pixels.height);
    image.stride = image.width * 4;
    image.scale = scale;
    image.pixels.assign(image.stride * image.height, 0);
    return image;
}

int shiftOf(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// Copies an XImage into the image at (dx, dy) as blue, green, red, unused bytes.
void copyPixels(Display* display, XImage* source, WindowImage& image, int dx, int dy)
{
    // Images of pixmaps carry no visual, hence no colour masks: ours have the screen's.
    if (!source->red_mask && !source->green_mask && !source->blue_mask) {
        const Visual* visual = DefaultVisual(display, DefaultScreen(display));
        source->red_mask = visual->red_mask;
        source->green_mask = visual->green_mask;
        source->blue_mask = visual->blue_mask;
    }
    const bool native = source->bits_per_pixel == 32 && source->byte_order == LSBFirst && source->red_mask == 0xff0000
        && source->green_mask == 0xff00 && source->blue_mask == 0xff;
    for (int y = 0; y < source->height; ++y) {
        std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(dy + y) * image.stride + static_cast<std::size_t>(dx) * 4;
        if (native) {
            std::memcpy(row, source->data + static_cast<std::size_t>(y) * source->bytes_per_line,
                static_cast<std::size_t>(source->width) * 4);
            continue;
        }
        // Other visuals: slow, but the same colours.
        const int rs = shiftOf(source->red_mask), gs = shiftOf(source->green_mask), bs = shiftOf(source->blue_mask);
        const unsigned long rm = source->red_mask >> rs, gm = source->green_mask >> gs, bm = source->blue_mask >> bs;
        for (int x = 0; x < source->width; ++x) {
            const unsigned long p = XGetPixel(source, x, y);
            row[x * 4 + 0] = static_cast<std::uint8_t>(bm ? ((p >> bs) & bm) * 255 / bm : 0);
            row[x * 4 + 1] = static_cast<std::uint8_t>(gm ? ((p >> gs) & gm) * 255 / gm : 0);
            row[x * 4 + 2] = static_cast<std::uint8_t>(rm ? ((p >> rs) & rm) * 255 / rm : 0);
            row[x * 4 + 3] = 0;
        }
    }
}

} // namespace

// A shared memory segment attached on both sides, reused while large enough.
struct X11WindowImages::SharedSegment {
    XShmSegmentInfo info {};
    std::size_t bytes = 0;
};

std::unique_ptr<X11WindowImages> X11WindowImages::create(const char* displayName)
{
    auto display = x11::openDisplay(displayName);
    if (!display) return nullptr;
    return std::unique_ptr<X11WindowImages>(new X11WindowImages(std::move(display)));
}

X11WindowImages::X11WindowImages(x11::DisplayPtr display)
    : display_(std::move(display)), segment_(std::make_unique<SharedSegment>())
{
    Display* d = display_.get();
    shm_ = XShmQueryExtension(d);
    int eventBase = 0, errorBase = 0, major = 0, minor = 2;
    const bool composite = XCompositeQueryExtension(d, &eventBase, &errorBase)
        && XCompositeQueryVersion(d, &major, &minor) && (major > 0 || minor >= 2);
    if (composite && XRenderQueryExtension(d, &eventBase, &errorBase)) {
        x11::ErrorTrap trap(d);
        XCompositeRedirectSubwindows(d, DefaultRootWindow(d), CompositeRedirectAutomatic);
        composite_ = !trap.failed();
    }
}

X11WindowImages::~X11WindowImages()
{
    std::lock_guard lock(mutex_);
    releaseSharedSegment();
    // Closing the connection ends the redirection too; say so explicitly while it is alive.
    if (composite_) {
        x11::ErrorTrap trap(display_.get());
        XCompositeUnredirectSubwindows(display_.get(), DefaultRootWindow(display_.get()), CompositeRedirectAutomatic);
    }
}

bool X11WindowImages::ensureSharedSegment(std::size_t bytes)
{
    if (segment_->bytes >= bytes) return true;
    releaseSharedSegment();
    Display* d = display_.get();
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    segment_->info.shmid = id;
    segment_->info.shmaddr = static_cast<char*>(address);
    segment_->info.readOnly = False;
    bool attached = false;
    {
        x11::ErrorTrap trap(d);
        attached = XShmAttach(d, &segment_->info) && !trap.failed();
    }
    // Removed now, freed once both sides have detached.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(address);
        segment_->info = {};
        return false;
    }
    segment_->bytes = bytes;
    return true;
}

void X11WindowImages::releaseSharedSegment()
{
    if (!segment_->bytes) return;
    {
        x11::ErrorTrap trap(display_.get());
        XShmDetach(display_.get(), &segment_->info);
    }
    shmdt(segment_->info.shmaddr);
    segment_->info = {};
    segment_->bytes = 0;
}

bool X11WindowImages::readShared(Drawable drawable, const PixelRect& source, WindowImage& image, int dx, int dy)
{
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    XImage* header = XShmCreateImage(d, DefaultVisual(d, screen), static_cast<unsigned>(DefaultDepth(d, screen)), ZPixmap,
        nullptr, &segment_->info, static_cast<unsigned>(source.width), static_cast<unsigned>(source.height));
    if (!header) return false;
    const std::size_t bytes = static_cast<std::size_t>(header->bytes_per_line) * static_cast<std::size_t>(source.height);
    bool ok = ensureSharedSegment(bytes);
    if (ok) {
        header->data = segment_->info.shmaddr;
        header->obdata = reinterpret_cast<char*>(&segment_->info);
        x11::ErrorTrap trap(d);
        ok = XShmGetImage(d, drawable, header, source.x, source.y, AllPlanes) && !trap.failed();
        if (ok) copyPixels(d, header, image, dx, dy);
    }
    header->data = nullptr; // the segment is ours, not the image's
    XDestroyImage(header);
    return ok;
}

bool X11WindowImages::read(Drawable drawable, const PixelRect& source, WindowImage& image, int dx, int dy)
{
    if (shm_) {
        if (readShared(drawable, source, image, dx, dy)) return true;
        // Refused (a remote server, no shared memory left): plain requests from now on.
        if (!segment_->bytes) shm_ = false;
    }
    Display* d = display_.get();
    x11::ErrorTrap trap(d);
    x11::ImagePtr plain(XGetImage(d, drawable, source.x, source.y, static_cast<unsigned>(source.width),
        static_cast<unsigned>(source.height), AllPlanes, ZPixmap));
    if (!plain || trap.failed()) return false;
    copyPixels(d, plain.get(), image, dx, dy);
    return true;
}

std::optional<WindowImage> X11WindowImages::rootImage(const PixelRect& pixels, double scale)
{
    std::lock_guard lock(mutex_);
    if (pixels.width <= 0 || pixels.height <= 0) return std::nullopt;
    WindowImage image = blankImage(pixels, scale);
    Display* d = display_.get();
    if (auto visible = intersect(pixels, rootBounds(d))) {
        if (!read(DefaultRootWindow(d), *visible, image, visible->x - pixels.x, visible->y - pixels.y)) return std::nullopt;
    }
    return image;
}

bool X11WindowImages::isOnScreen(Window window)
{
    x11::ErrorTrap trap(display_.get());
    XWindowAttributes attributes;
    const bool exists = XGetWindowAttributes(display_.get(), window, &attributes);
    return exists && !trap.failed() && attributes.map_state == IsViewable;
}

std::optional<WindowImage> X11WindowImages::imageBelow(Window window, const PixelRect& pixels, double scale)
{
    {
        std::lock_guard lock(mutex_);
        if (pixels.width <= 0 || pixels.height <= 0) return std::nullopt;
        if (isOnScreen(window)) {
            // Leaving the window out needs the windows' own pixmaps; without them the image would
            // show the window it must not show.
            if (!composite_) return std::nullopt;
            std::optional<Window> topLevel;
            {
                x11::ErrorTrap trap(display_.get());
                topLevel = x11::topLevelAncestor(display_.get(), window);
            }
            if (topLevel) return composeBelow(*topLevel, pixels, scale);
        }
    }
    return rootImage(pixels, scale);
}

std::optional<WindowImage> X11WindowImages::composeBelow(Window topLevel, const PixelRect& pixels, double scale)
{
    Display* d = display_.get();
    const Window root = DefaultRootWindow(d);
    const int screen = DefaultScreen(d);
    WindowImage image = blankImage(pixels, scale);
    const auto area = intersect(pixels, rootBounds(d));
    if (!area) return image;

    XRenderPictFormat* format = XRenderFindVisualFormat(d, DefaultVisual(d, screen));
    if (!format) return std::nullopt;
    x11::ScopedPixmap target;
    x11::ScopedPicture targetPicture;
    {
        x11::ErrorTrap trap(d);
        target = x11::ScopedPixmap(d, XCreatePixmap(d, root, static_cast<unsigned>(area->width),
                                           static_cast<unsigned>(area->height), static_cast<unsigned>(DefaultDepth(d, screen))));
        targetPicture = x11::ScopedPicture(d, XRenderCreatePicture(d, target.get(), format, 0, nullptr));
        XRenderColor black {0, 0, 0, 0xffff};
        XRenderFillRectangle(d, PictOpSrc, targetPicture.get(), &black, 0, 0, static_cast<unsigned>(area->width),
            static_cast<unsigned>(area->height));
        if (trap.failed()) return std::nullopt;
    }

    // The desktop background, where the desktop publishes one.
    if (auto background = x11::readProperty32(d, root, x11::atom(d, "_XROOTPMAP_ID"), XA_PIXMAP);
        background && !background->empty() && (*background)[0]) {
        x11::ErrorTrap trap(d);
        x11::ScopedPicture picture(d, XRenderCreatePicture(d, (*background)[0], format, 0, nullptr));
        XRenderComposite(d, PictOpSrc, picture.get(), None, targetPicture.get(), area->x, area->y, 0, 0, 0, 0,
            static_cast<unsigned>(area->width), static_cast<unsigned>(area->height));
        picture.reset();
        (void)trap.failed(); // a stale pixmap leaves the background black
    }

    // Bottom to top, up to the window left out.
    for (Window child : x11::rootChildren(d)) {
        if (child == topLevel) break;
        // Each window on its own: one that disappears meanwhile is just not drawn.
        x11::ErrorTrap trap(d);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(d, child, &attributes) || attributes.map_state != IsViewable
            || attributes.c_class != InputOutput)
            continue;
        const PixelRect bounds {attributes.x, attributes.y, attributes.width + 2 * attributes.border_width,
            attributes.height + 2 * attributes.border_width};
        const auto overlap = intersect(bounds, *area);
        if (!overlap) continue;
        XRenderPictFormat* windowFormat = XRenderFindVisualFormat(d, attributes.visual);
        if (!windowFormat) continue;
        x11::ScopedPixmap contents(d, XCompositeNameWindowPixmap(d, child));
        XRenderPictureAttributes pictureAttributes {};
        pictureAttributes.subwindow_mode = IncludeInferiors;
        x11::ScopedPicture picture(
            d, XRenderCreatePicture(d, contents.get(), windowFormat, CPSubwindowMode, &pictureAttributes));
        const bool translucent = windowFormat->type == PictTypeDirect && windowFormat->direct.alphaMask;
        XRenderComposite(d, translucent ? PictOpOver : PictOpSrc, picture.get(), None, targetPicture.get(),
            overlap->x - bounds.x, overlap->y - bounds.y, 0, 0, overlap->x - area->x, overlap->y - area->y,
            static_cast<unsigned>(overlap->width), static_cast<unsigned>(overlap->height));
        picture.reset();
        contents.reset();
        (void)trap.failed();
    }

    if (!read(target.get(), {0, 0, area->width, area->height}, image, area->x - pixels.x, area->y - pixels.y))
        return std::nullopt;
    return image;
}

std::optional<WindowImage> X11WindowImages::compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow)
{
    std::optional<X11MonitorLayout> layout;
    {
        std::lock_guard lock(mutex_);
        x11::ErrorTrap trap(display_.get());
        layout = X11MonitorLayout::read(display_.get(), false);
    }
    const Rect r = quartzRect.standardized();
    if (r.isNull() || r.isInfinite() || r.width() <= 0 || r.height() <= 0) return std::nullopt;
    const X11Monitor* monitor = layout->monitorForQuartzRect(r);
    if (!monitor) return std::nullopt;
    const Rect p = layout->rootPixelRect(r);
    const double x0 = std::round(p.minX()), y0 = std::round(p.minY());
    const double x1 = std::round(p.maxX()), y1 = std::round(p.maxY());
    // Anything beyond this is not a screen rectangle.
    constexpr double limit = 1 << 15;
    if (std::fabs(x0) > limit || std::fabs(y0) > limit || x1 - x0 > limit || y1 - y0 > limit) return std::nullopt;
    const PixelRect pixels {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
    if (belowWindow) return imageBelow(static_cast<Window>(*belowWindow), pixels, monitor->scale);
    return rootImage(pixels, monitor->scale);
}

} // namespace zorvane
