#include "app/selection/SelectionOverlayCoordinator.h"

#include "app/selection/ScreenCoordinates.h"
#include "app/selection/SelectionCanvasLayout.h"

#include <cmath>
#include <string>

namespace zorvane {

namespace {

CapturedContext screenContext(std::string role, std::string title, const Rect& rect)
{
    CapturedContext context;
    context.kind = CapturedContext::Kind::image;
    context.appName = "Pantalla";
    context.role = std::move(role);
    context.title = std::move(title);
    context.screenRect = rect;
    return context;
}

} // namespace

std::shared_ptr<SelectionOverlayCoordinator> SelectionOverlayCoordinator::create(
    std::shared_ptr<AccessibilitySelectionService> accessibility, std::shared_ptr<Screens> screens,
    std::shared_ptr<OverlayPanels> overlayPanels, std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<MainQueue> mainQueue,
    std::shared_ptr<Clock> clock)
{
    return std::shared_ptr<SelectionOverlayCoordinator>(new SelectionOverlayCoordinator(std::move(accessibility), std::move(screens),
        std::move(overlayPanels), std::move(eventMonitors), std::move(mainQueue), std::move(clock)));
}

SelectionOverlayCoordinator::SelectionOverlayCoordinator(std::shared_ptr<AccessibilitySelectionService> accessibility,
    std::shared_ptr<Screens> screens, std::shared_ptr<OverlayPanels> overlayPanels, std::shared_ptr<EventMonitors> eventMonitors,
    std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clock> clock)
    : accessibility_(std::move(accessibility)),
      screens_(std::move(screens)),
      overlayPanels_(std::move(overlayPanels)),
      eventMonitors_(std::move(eventMonitors)),
      mainQueue_(std::move(mainQueue)),
      clock_(std::move(clock))
{
}

SelectionOverlayCoordinator::~SelectionOverlayCoordinator()
{
    if (active_) end(false);
}

void SelectionOverlayCoordinator::ifCurrent(const std::weak_ptr<SelectionOverlayCoordinator>& weak, std::uint64_t session,
    const std::function<void(SelectionOverlayCoordinator&)>& action)
{
    const auto self = weak.lock();
    if (!self || !self->active_ || self->session_ != session) return;
    action(*self);
}

void SelectionOverlayCoordinator::begin(SelectionCallback onSelection, CancelCallback onCancel)
{
    cancel();
    onSelection_ = std::move(onSelection);
    onCancel_ = std::move(onCancel);
    active_ = true;
    ++session_;
    const std::uint64_t session = session_;

    // Nothing over the locker: the selection ends as if given up, once begin has returned.
    if (overlayPanels_->screenLocked()) {
        mainQueue_->post([weak = weak_from_this(), session] { ifCurrent(weak, session, [](auto& self) { self.cancelAndNotify(); }); });
        return;
    }

    for (const ScreenDescription& screen : screens_->screens()) {
        if (!screen.displayID) continue;
        auto panel = overlayPanels_->showPanel(screen, makeHandlers());
        if (!panel) continue;
        panels_.push_back(Panel {std::move(panel), DisplayGeometry {screen.appKitFrame, screen.quartzBounds}});
    }

    inspect(eventMonitors_->currentPointerLocation(), true);
    // The lookup may have run a nested event loop of the platform; the selection may be over.
    if (!active_ || session_ != session) return;
    installEscapeMonitors();
}

void SelectionOverlayCoordinator::cancel()
{
    end(false);
}

void SelectionOverlayCoordinator::end(bool captureFollows)
{
    const bool wasActive = active_;
    closePanels();
    currentContext_.reset();
    dragStart_.reset();
    manualContext_.reset();
    currentElement_.reset();
    windowElements_.reset();
    removeEscapeMonitors();
    active_ = false;
    if (wasActive) overlayPanels_->overlayClosed(captureFollows);
}

OverlayPanelHandlers SelectionOverlayCoordinator::makeHandlers()
{
    const std::weak_ptr<SelectionOverlayCoordinator> weak = weak_from_this();
    const std::uint64_t session = session_;
    OverlayPanelHandlers handlers;
    handlers.onMove = [weak, session](Point p) { ifCurrent(weak, session, [p](auto& self) { self.inspect(p, false); }); };
    handlers.onMouseDown = [weak, session](Point p) { ifCurrent(weak, session, [p](auto& self) { self.startDrag(p); }); };
    handlers.onDrag = [weak, session](Point p) { ifCurrent(weak, session, [p](auto& self) { self.updateDrag(p); }); };
    handlers.onMouseUp = [weak, session](Point p) { ifCurrent(weak, session, [p](auto& self) { self.finishDrag(p); }); };
    handlers.onKeyDown = [weak, session](const KeyEvent& key) { ifCurrent(weak, session, [key](auto& self) { self.handleKey(key); }); };
    return handlers;
}

void SelectionOverlayCoordinator::inspect(Point point, bool force)
{
    lastPointer_ = point;
    const double now = clock_->uptime();
    if (!force && now - lastInspection_ < inspectionInterval) return;
    lastInspection_ = now;

    currentElement_ = accessibility_->selectable(point);
    currentContext_ = currentElement_ ? currentElement_->context : fallbackContext(point);
    render(currentContext_);
}

void SelectionOverlayCoordinator::handleKey(const KeyEvent& key)
{
    switch (key.keyCode) {
    case KeyEvent::escape: cancelAndNotify(); return;
    // As a click where the pointer is.
    case KeyEvent::returnKey:
    case KeyEvent::keypadEnter: finishDrag(lastPointer_); return;
    case KeyEvent::leftArrow: navigate(NavigationStep::left); return;
    case KeyEvent::rightArrow: navigate(NavigationStep::right); return;
    case KeyEvent::upArrow: navigate(NavigationStep::up); return;
    case KeyEvent::downArrow: navigate(NavigationStep::down); return;
    case KeyEvent::tab: navigate(key.shift ? NavigationStep::previous : NavigationStep::next); return;
    case KeyEvent::pageUp: navigate(NavigationStep::enclosing); return;
    case KeyEvent::pageDown: navigate(NavigationStep::firstChild); return;
    default: return;
    }
}

void SelectionOverlayCoordinator::navigate(NavigationStep step)
{
    // The hand on the mouse button is drawing an area; the keys wait.
    if (dragStart_) return;
    const std::uint64_t session = session_;
    auto next = currentElement_ ? accessibility_->step(*currentElement_, step, windowElements_)
                                : accessibility_->firstElement(lastPointer_, windowElements_);
    // Reading another application may have run a nested event loop; the selection may be over.
    if (!active_ || session_ != session || !next) return;
    currentElement_ = std::move(next);
    currentContext_ = currentElement_->context;
    manualContext_.reset();
    render(currentContext_);
}

void SelectionOverlayCoordinator::startDrag(Point point)
{
    lastPointer_ = point;
    dragStart_ = point;
    manualContext_.reset();
}

void SelectionOverlayCoordinator::updateDrag(Point point)
{
    lastPointer_ = point;
    if (!dragStart_) return;
    const Point start = *dragStart_;
    const Rect spanned(std::fmin(point.x, start.x), std::fmin(point.y, start.y), std::fabs(point.x - start.x), std::fabs(point.y - start.y));
    if (spanned.width() < minimumDragSize || spanned.height() < minimumDragSize) return;
    // Cut to the display where the drag began, even when the pointer has moved onto another.
    const auto cut = ScreenCoordinates::clampedQuartzRect(*screens_, spanned, start);
    if (!cut) return;
    manualContext_ = screenContext("Selección manual", "Área exacta seleccionada", *cut);
    currentContext_ = manualContext_;
    render(currentContext_);
}

void SelectionOverlayCoordinator::finishDrag(Point point)
{
    // The release is where the drag ends, even when no move was reported there.
    updateDrag(point);
    if (manualContext_) {
        completeSelection(*manualContext_);
    } else if (currentContext_) {
        completeSelection(*currentContext_);
    } else {
        completeSelection(fallbackContext(point));
    }
}

CapturedContext SelectionOverlayCoordinator::fallbackContext(Point point)
{
    const Rect around(point.x - 360, point.y - 240, 720, 480);
    const Rect rect = ScreenCoordinates::clampedQuartzRect(*screens_, around, point).value_or(around);
    return screenContext("Área visual", "Captura alrededor del cursor", rect);
}

void SelectionOverlayCoordinator::render(const std::optional<CapturedContext>& context)
{
    const std::string label = context ? context->displayTitle() : std::string(SelectionCanvasLayout::defaultLabel);
    for (Panel& panel : panels_) {
        std::optional<Rect> highlight;
        if (context) highlight = SelectionCanvasLayout::canvasHighlight(context->screenRect, panel.displayGeometry);
        panel.panel->setHighlight(highlight, label);
    }
}

void SelectionOverlayCoordinator::completeSelection(const CapturedContext& context)
{
    // Copied: the context may be one of the fields that cancel() clears.
    const CapturedContext selected = context;
    end(true);
    // Taken before the call, so a callback that begins a new selection keeps its own callbacks.
    const SelectionCallback onSelection = std::move(onSelection_);
    onSelection_ = nullptr;
    onCancel_ = nullptr;
    if (onSelection) onSelection(selected);
}

void SelectionOverlayCoordinator::cancelAndNotify()
{
    cancel();
    const CancelCallback onCancel = std::move(onCancel_);
    onSelection_ = nullptr;
    onCancel_ = nullptr;
    if (onCancel) onCancel();
}

void SelectionOverlayCoordinator::installEscapeMonitors()
{
    const std::weak_ptr<SelectionOverlayCoordinator> weak = weak_from_this();
    const std::uint64_t session = session_;
    // Meant for another application: it still gets the key; we only hop to the main thread.
    const std::shared_ptr<MainQueue> mainQueue = mainQueue_;
    escapeMonitors_.push_back(eventMonitors_->addGlobalKeyDownMonitor([weak, session, mainQueue](const KeyEvent& event) {
        if (event.keyCode != KeyEvent::escape) return;
        mainQueue->post([weak, session] { ifCurrent(weak, session, [](auto& self) { self.cancelAndNotify(); }); });
    }));
    // Meant for our own windows: handled at once and swallowed.
    escapeMonitors_.push_back(eventMonitors_->addLocalKeyDownMonitor([weak, session](const KeyEvent& event) {
        if (event.keyCode != KeyEvent::escape) return false;
        bool handled = false;
        ifCurrent(weak, session, [&handled](auto& self) {
            handled = true;
            self.cancelAndNotify();
        });
        return handled;
    }));
}

void SelectionOverlayCoordinator::removeEscapeMonitors()
{
    for (const MonitorToken token : escapeMonitors_) eventMonitors_->removeMonitor(token);
    escapeMonitors_.clear();
}

void SelectionOverlayCoordinator::closePanels()
{
    for (Panel& panel : panels_) panel.panel->orderOut();
    panels_.clear();
}

} // namespace zorvane
