#pragma once

#include "app/core/Geometry.h"

#include <cstdint>
#include <optional>

namespace zorvane {

class AppModel;

// The floating panel that holds the composer. The window system's adapter implements it; the
// placement itself is ChatPanelPlacement's.
class ChatPanelController {
public:
    virtual ~ChatPanelController() = default;
    // Builds the panel once, hidden, so the first show is fast.
    virtual void prepare(AppModel& model) = 0;
    // Shows the panel at its compact size beside the rectangle (Quartz coordinates), gives it the
    // keyboard and asks the composer for focus (the model's composerFocusRequest).
    virtual void show(AppModel& model, const Rect& nearQuartzRect) = 0;
    // Grows the visible panel to its answer size.
    virtual void expandForResponse() = 0;
    // Orders the panel out if it has a window; it keeps its content.
    virtual void hide() = 0;
    // The window system's number of the panel's window, to leave it out of captures.
    virtual std::optional<std::uint32_t> windowNumber() = 0;
    // Whether the panel's window is mapped and viewable now, as the window system reports it (a
    // capture that leaves the panel out waits for it to be there).
    virtual bool isOnScreen() = 0;
};

class OnboardingWindowController {
public:
    virtual ~OnboardingWindowController() = default;
    virtual void show(AppModel& model) = 0;
};

} // namespace zorvane
