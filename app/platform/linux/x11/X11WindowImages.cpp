#include "app/platform/linux/x11/X11WindowImages.h"

#include "app/platform/linux/x11/X11Support.h"

#include <X11/extensions/XShm.h>

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
    shm_ = XShmQueryExtension(display_.get());
}

X11WindowImages::~X11WindowImages()
{
    std::lock_guard lock(mutex_);
    releaseSharedSegment();
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

std::optional<WindowImage> X11WindowImages::readRoot(const PixelRect& pixels, double scale)
{
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

X11MonitorLayout X11WindowImages::layout()
{
    x11::ErrorTrap trap(display_.get());
    return X11MonitorLayout::read(display_.get(), false);
}

X11WindowImages::Snapshot::~Snapshot()
{
    if (shared) shmdt(shared);
}

std::unique_ptr<X11WindowImages::Snapshot> X11WindowImages::readSharedSnapshot()
{
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    const PixelRect whole = rootBounds(d);
    x11::ImagePtr header(XShmCreateImage(d, DefaultVisual(d, screen), static_cast<unsigned>(DefaultDepth(d, screen)), ZPixmap,
        nullptr, nullptr, static_cast<unsigned>(whole.width), static_cast<unsigned>(whole.height)));
    if (!header) return nullptr;
    // Only a layout the picture's readers take as it is; others go through the copying path.
    if (header->bits_per_pixel != 32 || header->byte_order != LSBFirst || header->red_mask != 0xff0000
        || header->green_mask != 0xff00 || header->blue_mask != 0xff)
        return nullptr;
    XShmSegmentInfo info {};
    const std::size_t bytes = static_cast<std::size_t>(header->bytes_per_line) * static_cast<std::size_t>(whole.height);
    info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (info.shmid < 0) return nullptr;
    auto snapshot = std::make_unique<Snapshot>();
    snapshot->shared = shmat(info.shmid, nullptr, 0);
    // Removed now, freed once both sides have detached.
    const auto remove = [&] { shmctl(info.shmid, IPC_RMID, nullptr); };
    if (snapshot->shared == reinterpret_cast<void*>(-1)) {
        snapshot->shared = nullptr;
        remove();
        return nullptr;
    }
    info.shmaddr = static_cast<char*>(snapshot->shared);
    info.readOnly = False;
    header->data = info.shmaddr;
    header->obdata = reinterpret_cast<char*>(&info);
    bool read = false;
    {
        x11::ErrorTrap trap(d);
        const bool attached = XShmAttach(d, &info) && !trap.failed();
        remove();
        if (attached) {
            read = XShmGetImage(d, DefaultRootWindow(d), header.get(), 0, 0, AllPlanes) && !trap.failed();
            // The server lets go of the segment; the pixels stay in our mapping until the picture goes.
            XShmDetach(d, &info);
            XSync(d, False);
        }
    }
    header->data = nullptr; // the segment is the picture's, not the image's
    if (!read) return nullptr;
    snapshot->width = static_cast<std::uint32_t>(whole.width);
    snapshot->height = static_cast<std::uint32_t>(whole.height);
    snapshot->stride = static_cast<std::size_t>(header->bytes_per_line);
    snapshot->pixels = static_cast<const std::uint8_t*>(snapshot->shared);
    return snapshot;
}

std::optional<std::uint64_t> X11WindowImages::holdSnapshot()
{
    std::lock_guard lock(mutex_);
    snapshot_.reset();
    std::unique_ptr<Snapshot> snapshot = shm_ ? readSharedSnapshot() : nullptr;
    if (!snapshot) {
        auto image = readRoot(rootBounds(display_.get()), 1);
        // A segment the size of the whole root is not kept between selections.
        releaseSharedSegment();
        if (!image) return std::nullopt;
        snapshot = std::make_unique<Snapshot>();
        snapshot->width = image->width;
        snapshot->height = image->height;
        snapshot->stride = image->stride;
        snapshot->copied = std::move(image->pixels);
        snapshot->pixels = snapshot->copied.data();
    }
    snapshot_ = std::move(snapshot);
    return ++snapshotNumber_;
}

std::optional<X11WindowImages::SnapshotPart> X11WindowImages::snapshotPart(const Rect& quartzRect)
{
    std::lock_guard lock(mutex_);
    if (!snapshot_) return std::nullopt;
    const auto monitors = layout();
    const X11Monitor* monitor = monitors.monitorForQuartzRect(quartzRect);
    if (!monitor) return std::nullopt;
    const Rect p = monitors.rootPixelRect(quartzRect);
    const PixelRect wanted {static_cast<int>(std::lround(p.minX())), static_cast<int>(std::lround(p.minY())),
        static_cast<int>(std::lround(p.width())), static_cast<int>(std::lround(p.height()))};
    const auto inside = intersect(wanted, {0, 0, static_cast<int>(snapshot_->width), static_cast<int>(snapshot_->height)});
    if (!inside) return std::nullopt;
    return SnapshotPart {snapshot_, *inside, monitor->scale};
}

void X11WindowImages::dropSnapshot(std::optional<std::uint64_t> which)
{
    std::lock_guard lock(mutex_);
    if (!which || *which == snapshotNumber_) snapshot_.reset();
}

std::optional<WindowImage> X11WindowImages::compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow)
{
    std::lock_guard lock(mutex_);
    const auto monitors = layout();
    const Rect r = quartzRect.standardized();
    if (r.isNull() || r.isInfinite() || r.width() <= 0 || r.height() <= 0) return std::nullopt;
    const X11Monitor* monitor = monitors.monitorForQuartzRect(r);
    if (!monitor) return std::nullopt;
    const Rect p = monitors.rootPixelRect(r);
    const double x0 = std::round(p.minX()), y0 = std::round(p.minY());
    const double x1 = std::round(p.maxX()), y1 = std::round(p.maxY());
    // Anything beyond this is not a screen rectangle.
    constexpr double limit = 1 << 15;
    if (std::fabs(x0) > limit || std::fabs(y0) > limit || x1 - x0 > limit || y1 - y0 > limit) return std::nullopt;
    const PixelRect pixels {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
    if (pixels.width <= 0 || pixels.height <= 0) return std::nullopt;

    // The desktop as the overlay found it: one capture, then it is gone.
    if (snapshot_) {
        const std::shared_ptr<const Snapshot> snapshot = std::move(snapshot_);
        WindowImage image = blankImage(pixels, monitor->scale);
        const PixelRect whole {0, 0, static_cast<int>(snapshot->width), static_cast<int>(snapshot->height)};
        if (const auto part = intersect(pixels, whole)) {
            for (int y = 0; y < part->height; ++y) {
                const std::uint8_t* from = snapshot->pixels + static_cast<std::size_t>(part->y + y) * snapshot->stride
                    + static_cast<std::size_t>(part->x) * 4;
                std::uint8_t* to = image.pixels.data() + static_cast<std::size_t>(part->y - pixels.y + y) * image.stride
                    + static_cast<std::size_t>(part->x - pixels.x) * 4;
                std::memcpy(to, from, static_cast<std::size_t>(part->width) * 4);
            }
        }
        return image;
    }

    if (belowWindow && isOnScreen(static_cast<Window>(*belowWindow))) {
        // Without the picture the window cannot be left out: no image rather than one that shows it,
        // unless it lies elsewhere.
        Display* d = display_.get();
        x11::ErrorTrap trap(d);
        XWindowAttributes attributes;
        const auto topLevel = x11::topLevelAncestor(d, static_cast<Window>(*belowWindow));
        if (!topLevel || !XGetWindowAttributes(d, *topLevel, &attributes) || trap.failed()) return std::nullopt;
        const PixelRect frame {attributes.x, attributes.y, attributes.width + 2 * attributes.border_width,
            attributes.height + 2 * attributes.border_width};
        if (intersect(frame, pixels)) return std::nullopt;
    }
    return readRoot(pixels, monitor->scale);
}

} // namespace zorvane
