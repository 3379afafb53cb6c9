#pragma once

#include "app/platform/EventMonitors.h"
#include "app/platform/OverlayPanels.h"
#include "app/platform/WindowImages.h"

#include <memory>
#include <vector>

namespace zorvane {

// The selection overlay's panels as Qt windows: one override-redirect window per screen, above
// every managed window, with the crosshair cursor, never taking the keyboard (Escape comes from
// the global key monitors). With a compositing manager the panel is translucent; without one it
// shows a frozen frame of its screen, grabbed just before it maps, under the veil. Main thread only.
class X11OverlayPanels final : public OverlayPanels {
public:
    // eventMonitors gives the pointer's global location when input is handled; windowImages
    // grabs the frozen frame.
    X11OverlayPanels(std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<WindowImages> windowImages);
    ~X11OverlayPanels() override;

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override;
    bool anyPanelOnScreen() override;

    // Whether a compositing manager owns the display's _NET_WM_CM_S<screen> selection now.
    static bool compositorRunning();

private:
    std::shared_ptr<EventMonitors> eventMonitors_;
    std::shared_ptr<WindowImages> windowImages_;
    // Every panel window shown and not yet known to be gone from the screen.
    std::vector<unsigned long> windows_;
};

} // namespace zorvane
