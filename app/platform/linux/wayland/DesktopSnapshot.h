#pragma once

#include "app/core/Geometry.h"
#include "app/platform/WindowImages.h"

#include <QImage>
#include <QRectF>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zorvane {

// One picture of the whole desktop, taken before the overlay shows: the overlay draws it under
// its veil and the selection is cropped from it, so none of our windows is ever in it. It lives
// in memory only, from the trigger to the capture of that selection.
struct DesktopSnapshot {
    // A part of the desktop: its Quartz bounds (points) and its pixels, image width ÷ bounds width
    // pixels per point (one output, or the whole layout when the desktop hands out one picture).
    struct Part {
        Rect quartzBounds;
        QImage image;
        double scale() const;
    };
    std::vector<Part> parts;

    // The rectangle at the pixel density of the part holding most of it; none outside every part.
    std::optional<WindowImage> crop(const Rect& quartzRect) const;
    // What a screen showed: the picture holding it (shared, not copied) and where in it; a null
    // image when no part covers the screen.
    struct Frame {
        QImage image;
        QRectF source;
    };
    Frame frameOf(const Rect& screenQuartzBounds) const;

    // A picture of the bounding box of the screens (the portals' and KWin's whole workspace).
    static DesktopSnapshot ofLayout(QImage picture, const std::vector<Rect>& screenQuartzBounds);
};

// Why the desktop could not be captured, in Spanish, saying what to do. `tryNext`: another way
// may still work (a backend the desktop does not offer, or refuses without asking the user).
struct CaptureRefusal {
    std::string message;
    bool tryNext = false;
};

using SnapshotOutcome = std::variant<DesktopSnapshot, CaptureRefusal>;

} // namespace zorvane
