#include "app/platform/linux/wayland/WaylandWindowImages.h"

namespace zorvane {

std::optional<WindowImage> WaylandWindowImages::compositeImage(const Rect& quartzRect, std::optional<WindowNumber>)
{
    std::shared_ptr<const DesktopSnapshot> snapshot;
    {
        // One crop per snapshot: nothing captured outlives its question.
        std::lock_guard lock(mutex_);
        snapshot = std::move(snapshot_);
    }
    if (!snapshot) return std::nullopt;
    return snapshot->crop(quartzRect);
}

void WaylandWindowImages::setSnapshot(std::shared_ptr<const DesktopSnapshot> snapshot)
{
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
}

void WaylandWindowImages::release(const std::shared_ptr<const DesktopSnapshot>& snapshot)
{
    std::lock_guard lock(mutex_);
    if (snapshot_ == snapshot) snapshot_.reset();
}

} // namespace zorvane
