#pragma once

#include "app/core/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorvane {

using WindowNumber = std::uint32_t;

// Rows of 4-byte pixels in the order blue, green, red, unused.
struct WindowImage {
    std::uint32_t width = 0;  // pixels
    std::uint32_t height = 0; // pixels
    std::size_t stride = 0;   // bytes from one row to the next, at least width × 4
    double scale = 1;         // pixels per point of the display the image was taken on
    std::vector<std::uint8_t> pixels;
};

// Composite images of what is on the screen. May be called from any thread.
class WindowImages {
public:
    virtual ~WindowImages() = default;
    // The rectangle (Quartz global coordinates, points) as the user sees it, at the display's
    // pixel density and without window frames' shadows: every on-screen window, or, with
    // belowWindow, only the on-screen windows stacked below that window (it and everything above
    // it left out). A belowWindow that is not on screen (not mapped, or no longer existing) means
    // nothing is left out. None when no image can be made.
    //
    // After a selection overlay whose panels pictured the desktop (see OverlayPanels), the
    // rectangle comes from that picture, taken before any of our windows showed over it, so
    // nothing of ours is in it whatever belowWindow says; the picture serves one capture.
    virtual std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) = 0;
};

} // namespace zorvane
