#pragma once

#include "app/platform/WindowImages.h"
#include "app/platform/linux/wayland/DesktopSnapshot.h"

#include <memory>
#include <mutex>

namespace zorvane {

// The WindowImages port on Wayland: a client cannot read the screen when it likes, so the picture
// is the snapshot the overlay took when the selection began, and a rectangle is cropped from it.
// None of our windows is in it, so "below a window" leaves nothing out. The snapshot goes once a
// rectangle has been cropped from it, or when the overlay lets it go. Callable from any thread.
class WaylandWindowImages final : public WindowImages {
public:
    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override;

    void setSnapshot(std::shared_ptr<const DesktopSnapshot> snapshot);
    // Drops the snapshot, if it is still this one.
    void release(const std::shared_ptr<const DesktopSnapshot>& snapshot);

private:
    std::mutex mutex_;
    std::shared_ptr<const DesktopSnapshot> snapshot_;
};

} // namespace zorvane
