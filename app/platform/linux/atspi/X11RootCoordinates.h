#pragma once

#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowList.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace zorvane {

// The accessibility adapter's conversions from the Screens adapter's monitor layout, and the
// windows it compares applications' reports with, from a window list of its own. A lookup
// converts dozens of frames; the layout is read again at most every 200 ms rather than for each.
inline RootCoordinates rootCoordinatesFrom(std::shared_ptr<X11Screens> screens)
{
    struct Cached {
        std::shared_ptr<X11Screens> screens;
        std::shared_ptr<X11WindowList> windows;
        std::mutex mutex;
        std::optional<X11MonitorLayout> layout;
        std::chrono::steady_clock::time_point readAt;

        X11MonitorLayout current()
        {
            std::lock_guard lock(mutex);
            const auto now = std::chrono::steady_clock::now();
            if (!layout || now - readAt > std::chrono::milliseconds(200)) {
                layout = screens->layout();
                readAt = now;
            }
            return *layout;
        }
    };
    const auto rect = [](const PixelRect& r) { return Rect(r.x, r.y, r.width, r.height); };
    auto cached = std::make_shared<Cached>();
    cached->screens = std::move(screens);
    cached->windows = X11WindowList::create();
    return RootCoordinates {
        [cached](Point quartzPoint) { return cached->current().rootPixelPoint(quartzPoint); },
        [cached](const Rect& pixels) {
            // Scaled reports land between pixels: to the nearest ones.
            const int x0 = static_cast<int>(std::lround(pixels.minX())), y0 = static_cast<int>(std::lround(pixels.minY()));
            const int x1 = static_cast<int>(std::lround(pixels.maxX())), y1 = static_cast<int>(std::lround(pixels.maxY()));
            return cached->current().quartzRect(PixelRect {x0, y0, x1 - x0, y1 - y0});
        },
        [cached, rect](ProcessID pid, Point rootPixel) -> std::optional<AtspiScale::WindowPixels> {
            if (!cached->windows) return std::nullopt;
            const auto entry = cached->windows->topmostApplicationWindowAtPixel(rootPixel, static_cast<ProcessID>(::getpid()));
            if (!entry || entry->ownerPID != pid) return std::nullopt;
            return AtspiScale::WindowPixels {rect(entry->client), rect(entry->frame), rect(entry->outer), false, std::nullopt};
        },
        [cached, rect] {
            const X11MonitorLayout layout = cached->current();
            std::vector<Rect> monitors;
            for (const X11Monitor& monitor : layout.monitors()) monitors.push_back(rect(monitor.pixels));
            return monitors;
        }};
}

} // namespace zorvane
