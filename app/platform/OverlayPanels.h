#pragma once

#include "app/core/Geometry.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/Screens.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// What a panel reports back. Every point is where the event happened, in Quartz global
// coordinates: a busy main thread handles events late, and the pointer has moved on by then.
struct OverlayPanelHandlers {
    std::function<void(Point)> onMove;      // pointer entered or moved over the panel
    std::function<void(Point)> onMouseDown;
    std::function<void(Point)> onDrag;      // moved with the button held
    std::function<void(Point)> onMouseUp;
    // A key pressed while the overlay has the keyboard. The adapter only reports keys; what they
    // do is the core's.
    std::function<void(const KeyEvent&)> onKeyDown;
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

// While any panel is shown the overlay owns the keyboard: keys reach no other application and
// come to the panels' onKeyDown (an adapter that cannot take the keyboard at once keeps trying
// for a moment, and gives it back on every way out).
//
// An adapter may picture the whole desktop when the first panel of a selection is about to show
// (on Wayland it must: the panels show that frozen frame). A WindowImages of the same window
// system then crops captures from that picture, in which none of our own windows appear.
class OverlayPanels {
public:
    virtual ~OverlayPanels() = default;
    // Creates a panel over the screen and brings it to the front without activating the
    // application. The panel starts with no highlight and the label "Área visual".
    virtual std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) = 0;
    // Whether a panel this object showed is still mapped on the screen as the window system
    // reports it now (ordering out is asynchronous: the model waits for false before capturing).
    virtual bool anyPanelOnScreen() = 0;
    // Whether the session's screen is locked now: nothing may be shown over the locker.
    virtual bool screenLocked() { return false; }
    // Every panel of a selection has been ordered out. captureFollows: part of what the panels
    // covered is about to be captured, and a picture taken for them is kept for that capture (and
    // dropped after it); otherwise anything taken for the panels is dropped now.
    virtual void overlayClosed(bool captureFollows) { (void)captureFollows; }
};

} // namespace zorvane
