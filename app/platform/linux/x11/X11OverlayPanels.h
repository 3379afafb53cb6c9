#pragma once

#include "app/platform/OverlayPanels.h"
#include "app/platform/WindowImages.h"

#include <memory>
#include <vector>

namespace zorvane {

class X11WindowImages;

// The selection overlay's panels as Qt windows: one override-redirect window per screen, above
// every managed window, with the crosshair cursor. While any panel is shown the overlay holds the
// keyboard (X11KeyboardGrab). Just before the first panel of a selection shows, the whole desktop
// is pictured (X11WindowImages::holdSnapshot), once our own windows have left the screen: without
// a compositing manager the panels show that frozen frame under the veil (translucent pixels
// would be black), and the capture after the selection is cut from it. Main thread only.
class X11OverlayPanels final : public OverlayPanels {
public:
    // When our own window (the chat panel, the menu) has just been hidden, the applications under
    // it repaint what it covered before the desktop is pictured, within this long of the hiding.
    static constexpr double repaintAllowance = 0.1;
    // A picture kept for a capture that never comes is dropped after this long.
    static constexpr double snapshotLifetime = 5;

    // windowImages: the capture adapter; when it is X11's, the panels and the capture share the
    // picture of the desktop.
    explicit X11OverlayPanels(std::shared_ptr<WindowImages> windowImages);
    ~X11OverlayPanels() override;

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override;
    bool anyPanelOnScreen() override;
    bool screenLocked() override;
    void overlayClosed(bool captureFollows) override;

    // Whether a compositing manager owns the display's _NET_WM_CM_S<screen> selection now.
    static bool compositorRunning();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace zorvane
