#include "app/platform/linux/atspi/AtspiScale.h"

#include <cmath>

namespace zorvane::AtspiScale {

namespace {

// The monitor whose part of the reported space holds the point (Qt gives each monitor its own
// corner); the nearest when none does.
const Rect* reportedMonitor(const std::vector<Rect>& monitors, double scale, Point reported)
{
    const Rect* nearest = nullptr;
    double best = INFINITY;
    for (const Rect& m : monitors) {
        const Rect logical(m.minX(), m.minY(), m.width() / scale, m.height() / scale);
        if (logical.contains(reported)) return &m;
        const double dx = std::fmax(0, std::fmax(logical.minX() - reported.x, reported.x - logical.maxX()));
        const double dy = std::fmax(0, std::fmax(logical.minY() - reported.y, reported.y - logical.maxY()));
        if (dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            nearest = &m;
        }
    }
    return nearest;
}

const Rect* rootMonitor(const std::vector<Rect>& monitors, Point root)
{
    for (const Rect& m : monitors)
        if (m.contains(root)) return &m;
    return monitors.empty() ? nullptr : &monitors.front();
}

std::optional<double> knownScale(double ratio)
{
    for (const double scale : knownScales)
        if (std::fabs(ratio - scale) <= 0.03 * scale) return scale;
    return std::nullopt;
}

bool near(Point a, Point b, double tolerance)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance;
}

} // namespace

Point Mapping::toRoot(Point reported) const
{
    if (isIdentity()) return reported;
    if (perMonitor) {
        if (const Rect* m = reportedMonitor(monitors, scale, reported))
            return {m->minX() + (reported.x - m->minX()) * scale, m->minY() + (reported.y - m->minY()) * scale};
    }
    return {offset.x + reported.x * scale, offset.y + reported.y * scale};
}

Point Mapping::fromRoot(Point root) const
{
    if (isIdentity()) return root;
    if (perMonitor) {
        if (const Rect* m = rootMonitor(monitors, root))
            return {m->minX() + (root.x - m->minX()) / scale, m->minY() + (root.y - m->minY()) / scale};
    }
    return {(root.x - offset.x) / scale, (root.y - offset.y) / scale};
}

Rect Mapping::toRoot(const Rect& reported) const
{
    if (isIdentity()) return reported;
    const Point origin = toRoot(reported.origin);
    return Rect(origin.x, origin.y, reported.width() * scale, reported.height() * scale);
}

bool Mapping::documentInRootPixels(const Rect& reported) const
{
    if (scale == 1) return false;
    const Rect scaled = toRoot(reported);
    const Point scaledCentre {scaled.midX(), scaled.midY()};
    const Point centre {reported.midX(), reported.midY()};
    return !window.contains(scaledCentre) && window.contains(centre);
}

Mapping windowRelative(const WindowPixels& window, const Rect& reported)
{
    // A native client puts its top-level at (0, 0); one under XWayland says where it really is.
    Mapping mapping;
    if (reported.minX() == 0 && reported.minY() == 0) mapping.offset = window.outer.origin;
    mapping.window = window.client;
    return mapping;
}

std::optional<Mapping> detect(const std::vector<Rect>& topLevels, const WindowPixels& window, const std::vector<Rect>& monitors,
    bool perMonitorToolkit)
{
    for (const Rect& reported : topLevels) {
        if (reported.width() < 1 || reported.height() < 1) continue;
        for (const Rect& actual : {window.frame, window.client, window.outer}) {
            if (actual.width() < 1 || actual.height() < 1) continue;
            const auto scale = knownScale(actual.width() / reported.width());
            if (!scale || knownScale(actual.height() / reported.height()) != scale) continue;
            Mapping mapping {*scale, false, monitors, window.frame, {0, 0}, std::nullopt};
            if (mapping.isIdentity()) return mapping;
            // The corner must land where the window is, under the toolkit's way or the other.
            const double tolerance = 2 * *scale + 2;
            for (const bool perMonitor : {perMonitorToolkit, !perMonitorToolkit}) {
                mapping.perMonitor = perMonitor;
                if (near(mapping.toRoot(reported.origin), actual.origin, tolerance)) return mapping;
            }
        }
    }
    return std::nullopt;
}

} // namespace zorvane::AtspiScale
