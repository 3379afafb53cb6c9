#pragma once

#include "app/core/CapturedContext.h"
#include "app/core/Geometry.h"
#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/MainQueue.h"
#include "app/platform/OverlayPanels.h"
#include "app/platform/Screens.h"
#include "app/selection/AccessibilitySelectionService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zorvane {

// The selection overlay: a panel over every screen that outlines the element under the pointer.
// A click accepts the outlined element, a drag of at least 8 × 8 points selects exactly the
// dragged area, Escape (in any application) gives up. The panels own the keyboard: the arrows,
// Tab, Shift+Tab, Page Up and Page Down move the outline from element to element, Enter accepts it
// as a click would. No overlay shows while the screen is locked. Main thread only. Owned by a
// shared_ptr: panels, monitors and posted tasks hold it weakly and do nothing once it is gone.
class SelectionOverlayCoordinator : public std::enable_shared_from_this<SelectionOverlayCoordinator> {
public:
    using SelectionCallback = std::function<void(const CapturedContext&)>;
    using CancelCallback = std::function<void()>;

    // Element lookups are synchronous calls into other applications: at most one per interval
    // while the pointer moves.
    static constexpr double inspectionInterval = 0.035;
    static constexpr double minimumDragSize = 8;

    static std::shared_ptr<SelectionOverlayCoordinator> create(std::shared_ptr<AccessibilitySelectionService> accessibility,
        std::shared_ptr<Screens> screens, std::shared_ptr<OverlayPanels> overlayPanels, std::shared_ptr<EventMonitors> eventMonitors,
        std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock);
    ~SelectionOverlayCoordinator();

    SelectionOverlayCoordinator(const SelectionOverlayCoordinator&) = delete;
    SelectionOverlayCoordinator& operator=(const SelectionOverlayCoordinator&) = delete;

    // Shows the overlay and starts a selection, silently ending one in progress. At most one of
    // the callbacks is called, once, on the main thread; the overlay is off the screen by then.
    void begin(SelectionCallback onSelection, CancelCallback onCancel);
    // Closes the overlay without calling either callback.
    void cancel();
    bool isActive() const { return active_; }

private:
    struct Panel {
        std::unique_ptr<OverlayPanel> panel;
        DisplayGeometry displayGeometry;
    };

    SelectionOverlayCoordinator(std::shared_ptr<AccessibilitySelectionService> accessibility, std::shared_ptr<Screens> screens,
        std::shared_ptr<OverlayPanels> overlayPanels, std::shared_ptr<EventMonitors> eventMonitors,
        std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock);

    // Runs `action` on the coordinator if it still exists and the selection it was made for is
    // still the one in progress.
    static void ifCurrent(const std::weak_ptr<SelectionOverlayCoordinator>& weak, std::uint64_t session,
        const std::function<void(SelectionOverlayCoordinator&)>& action);
    OverlayPanelHandlers makeHandlers();

    void inspect(Point point, bool force);
    void handleKey(const KeyEvent& key);
    void navigate(NavigationStep step);
    void startDrag(Point point);
    void updateDrag(Point point);
    void finishDrag(Point point);
    CapturedContext fallbackContext(Point point);
    void render(const std::optional<CapturedContext>& context);
    void completeSelection(const CapturedContext& context);
    void cancelAndNotify();
    // Takes the overlay off the screen; captureFollows: the selection is accepted and captured next.
    void end(bool captureFollows);
    void installEscapeMonitors();
    void removeEscapeMonitors();
    void closePanels();

    std::shared_ptr<AccessibilitySelectionService> accessibility_;
    std::shared_ptr<Screens> screens_;
    std::shared_ptr<OverlayPanels> overlayPanels_;
    std::shared_ptr<EventMonitors> eventMonitors_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Clock> clock_;

    std::vector<Panel> panels_;
    std::optional<CapturedContext> currentContext_;
    std::optional<Point> dragStart_;
    std::optional<CapturedContext> manualContext_;
    // The outlined element when it is another application's, for the keyboard to step from.
    std::optional<SelectableElement> currentElement_;
    // What the keyboard read of the window it moves in.
    std::optional<WindowElements> windowElements_;
    Point lastPointer_;
    std::vector<MonitorToken> escapeMonitors_;
    double lastInspection_ = 0;
    SelectionCallback onSelection_;
    CancelCallback onCancel_;
    bool active_ = false;
    // Tells late events and tasks of an earlier selection from those of the current one.
    std::uint64_t session_ = 0;
};

} // namespace zorvane
