#pragma once

#include "app/core/Geometry.h"
#include "app/platform/Screens.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// What a panel reports back. Every point is the pointer's current global location in Quartz
// coordinates, read afresh when the event is handled (not the location the event carried).
struct OverlayPanelHandlers {
    std::function<void(Point)> onMove;      // pointer entered or moved over the panel
    std::function<void(Point)> onMouseDown;
    std::function<void(Point)> onDrag;      // moved with the button held
    std::function<void(Point)> onMouseUp;
    std::function<void()> onCancel;         // Escape pressed while the panel has the keyboard
};

// One transparent, borderless panel covering one screen above every other window, with the
// crosshair cursor. It draws what SelectionCanvasLayout computes from its highlight and label.
// The core may order out and release a panel from inside one of its own handlers; an adapter
// defers destroying what is still running (Qt: deleteLater).
class OverlayPanel {
public:
    virtual ~OverlayPanel() = default;
    // The highlight in the panel's own coordinates (points, origin top-left, y down) or none, and
    // the label; the panel is marked for redrawing, not redrawn at once.
    virtual void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) = 0;
    // Takes the panel off the screen; it reports nothing afterwards.
    virtual void orderOut() = 0;
};

class OverlayPanels {
public:
    virtual ~OverlayPanels() = default;
    // Creates a panel over the screen and brings it to the front without activating the
    // application. The panel starts with no highlight and the label "Área visual".
    virtual std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) = 0;
    // Whether a panel this object showed is still mapped on the screen as the window system
    // reports it now (ordering out is asynchronous: the model waits for false before capturing).
    virtual bool anyPanelOnScreen() = 0;
};

} // namespace zorvane
