#include "app/platform/linux/wayland/DesktopSnapshot.h"

#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorvane {

namespace {

// Pixel edges of a part of `bounds`, rounded to the nearest pixel, inside the picture.
QRect pixelRect(const Rect& part, const DesktopSnapshot::Part& in)
{
    const double s = in.scale();
    const long x0 = std::lround((part.minX() - in.quartzBounds.minX()) * s);
    const long y0 = std::lround((part.minY() - in.quartzBounds.minY()) * s);
    const long x1 = std::lround((part.maxX() - in.quartzBounds.minX()) * s);
    const long y1 = std::lround((part.maxY() - in.quartzBounds.minY()) * s);
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0)).intersected(in.image.rect());
}

const DesktopSnapshot::Part* partHoldingMost(const std::vector<DesktopSnapshot::Part>& parts, const Rect& r)
{
    const DesktopSnapshot::Part* best = nullptr;
    double bestArea = 0;
    for (const auto& part : parts) {
        const double area = part.quartzBounds.intersection(r).area();
        if (area > bestArea && !part.image.isNull()) {
            best = &part;
            bestArea = area;
        }
    }
    return best;
}

} // namespace

double DesktopSnapshot::Part::scale() const
{
    return quartzBounds.width() > 0 ? image.width() / quartzBounds.width() : 1;
}

std::optional<WindowImage> DesktopSnapshot::crop(const Rect& quartzRect) const
{
    const Rect wanted = quartzRect.standardized();
    const Part* part = partHoldingMost(parts, wanted);
    if (!part) return std::nullopt;
    const QRect pixels = pixelRect(part->quartzBounds.intersection(wanted), *part);
    if (pixels.isEmpty()) return std::nullopt;

    // Rows of blue, green, red, unused: QImage's RGB32 on a little-endian machine.
    const QImage rows = part->image.copy(pixels).convertToFormat(QImage::Format_RGB32);
    WindowImage image;
    image.width = static_cast<std::uint32_t>(rows.width());
    image.height = static_cast<std::uint32_t>(rows.height());
    image.stride = image.width * 4;
    image.scale = part->scale();
    image.pixels.resize(image.stride * image.height);
    for (int y = 0; y < rows.height(); ++y)
        std::memcpy(image.pixels.data() + image.stride * y, rows.constScanLine(y), image.stride);
    return image;
}

DesktopSnapshot::Frame DesktopSnapshot::frameOf(const Rect& screenQuartzBounds) const
{
    const Part* part = partHoldingMost(parts, screenQuartzBounds);
    if (!part) return {};
    return {part->image, QRectF(pixelRect(screenQuartzBounds, *part))};
}

DesktopSnapshot DesktopSnapshot::ofLayout(QImage picture, const std::vector<Rect>& screenQuartzBounds)
{
    DesktopSnapshot snapshot;
    if (screenQuartzBounds.empty() || picture.isNull()) return snapshot;
    Rect box = screenQuartzBounds.front();
    for (const Rect& r : screenQuartzBounds) {
        const double x0 = std::min(box.minX(), r.minX()), y0 = std::min(box.minY(), r.minY());
        box = Rect(x0, y0, std::max(box.maxX(), r.maxX()) - x0, std::max(box.maxY(), r.maxY()) - y0);
    }
    snapshot.parts.push_back({box, std::move(picture)});
    return snapshot;
}

} // namespace zorvane
