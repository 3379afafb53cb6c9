#pragma once

#include "app/platform/OverlayPanels.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::fakes {

// Overlay panels that exist only as records: what each one would show, and whether it is still
// on the screen. The test plays the user through them. Records outlive the panels, so a panel
// may be released from inside its own handler.
class FakeOverlayPanels : public OverlayPanels {
public:
    struct Record {
        ScreenDescription screen;
        OverlayPanelHandlers handlers;
        std::optional<Rect> highlightRect;
        std::string label = "Área visual";
        bool onScreen = true; // shown and not yet ordered out or released
        bool mapped = true;   // what the window system reports
        bool released = false;
        bool unmapsLate = false;
    };

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override;
    bool anyPanelOnScreen() override;

    // Panels shown from now on stay mapped after being ordered out until finishUnmapping(), as a
    // window system that unmaps asynchronously does.
    bool unmapLate = false;
    void finishUnmapping();

    // Every panel ever shown, in the order shown.
    const std::vector<std::shared_ptr<Record>>& shown() const { return records_; }
    // The panels still on the screen, in the order shown.
    std::vector<std::shared_ptr<Record>> onScreen() const;
    // The panel on the screen whose Quartz bounds contain the point.
    std::shared_ptr<Record> panelAt(Point quartzPoint) const;

    // The user's actions, delivered to the panel under the point as an adapter would (drags and
    // the release go to the panel where the button went down); nothing happens when no panel is
    // on the screen there. Each returns whether a panel took the event.
    bool move(Point to);
    bool mouseDown(Point at);
    bool drag(Point to);
    bool mouseUp(Point at);
    bool click(Point at); // down and up at the same point
    // Escape while a panel has the keyboard.
    bool pressEscape();

private:
    std::shared_ptr<Record> pressedOr(Point at) const;

    std::vector<std::shared_ptr<Record>> records_;
    std::shared_ptr<Record> pressed_;
};

} // namespace zorvane::fakes
