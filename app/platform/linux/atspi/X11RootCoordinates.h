#pragma once

#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/x11/X11Screens.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace zorvane {

// The accessibility adapter's conversions from the Screens adapter's monitor layout. A lookup
// converts dozens of frames; the layout is read again at most every 200 ms rather than for each.
inline RootCoordinates rootCoordinatesFrom(std::shared_ptr<X11Screens> screens)
{
    struct Cached {
        std::shared_ptr<X11Screens> screens;
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
    auto cached = std::make_shared<Cached>();
    cached->screens = std::move(screens);
    return RootCoordinates {
        [cached](Point quartzPoint) { return cached->current().rootPixelPoint(quartzPoint); },
        [cached](const Rect& pixels) {
            return cached->current().quartzRect(PixelRect {static_cast<int>(pixels.minX()), static_cast<int>(pixels.minY()),
                static_cast<int>(pixels.width()), static_cast<int>(pixels.height())});
        }};
}

} // namespace zorvane
