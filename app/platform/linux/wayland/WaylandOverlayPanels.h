#pragma once

#include "app/platform/OverlayPanels.h"
#include "app/platform/linux/wayland/WaylandDesktopCapture.h"
#include "app/platform/linux/wayland/WaylandWindowImages.h"

#include <QObject>
#include <QPointer>

#include <chrono>

#include <memory>
#include <vector>

class QWidget;

namespace zorvane {

class OverlaySurface;

// The selection overlay's panels on Wayland. A client cannot read the screen under its own
// windows, so a selection's first panel captures the whole desktop first; every panel of that
// selection then shows on its output with that frozen frame under the veil (or, when the desktop
// refuses, the reason and what to do, over the live desktop). The snapshot goes to WindowImages,
// from which the selection is cropped. Once the selection is made its surfaces can stay as the
// backdrop the chat panel opens inside, since a window cannot place itself on Wayland. Main
// thread only.
class WaylandOverlayPanels final : public OverlayPanels {
public:
    WaylandOverlayPanels(std::shared_ptr<WaylandDesktopCapture> capture, std::shared_ptr<WaylandWindowImages> windowImages);
    ~WaylandOverlayPanels() override;

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override;
    bool anyPanelOnScreen() override;

    // Keeps the surfaces of the selection that has just ended on the screen, without the hint,
    // and gives the one showing most of the rectangle; null when none is left. A click on the
    // backdrop calls `dismissed` (the panel then leaves it).
    QWidget* claimBackdrop(const Rect& quartzRect, std::function<void()> dismissed);
    // Takes the backdrop off the screen.
    void releaseBackdrop();

    // A snapshot that no crop took is dropped this long after its selection ends.
    static constexpr int snapshotGraceMilliseconds = 2000;

    struct Selection;

private:
    void leave(OverlaySurface* surface);
    void captured(const std::shared_ptr<Selection>& selection, SnapshotOutcome outcome);

    std::shared_ptr<WaylandDesktopCapture> capture_;
    std::shared_ptr<WaylandWindowImages> windowImages_;
    std::shared_ptr<Selection> current_;
    // Surfaces ordered out during this turn of the event loop: the chat panel may still claim them.
    std::vector<QPointer<OverlaySurface>> leaving_;
    std::vector<QPointer<OverlaySurface>> backdrop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // When one of our own windows (the chat panel) last left the screen: the compositor draws
    // without it a moment later, and the snapshot must not show it.
    std::chrono::steady_clock::time_point lastOwnWindowHidden_ {};
    QObject* hideWatch_ = nullptr;
};

} // namespace zorvane
