#include "fakes/FakeOverlayPanels.h"

namespace zorvane::fakes {

namespace {

class Panel : public OverlayPanel {
public:
    explicit Panel(std::shared_ptr<FakeOverlayPanels::Record> record) : record_(std::move(record)) {}
    ~Panel() override
    {
        record_->released = true;
        // A released panel is gone from the screen even when nobody ordered it out.
        orderOut();
    }

    void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
    {
        record_->highlightRect = highlightRect;
        record_->label = label;
    }
    void orderOut() override
    {
        record_->onScreen = false;
        if (!record_->unmapsLate) record_->mapped = false;
    }

private:
    std::shared_ptr<FakeOverlayPanels::Record> record_;
};

} // namespace

std::unique_ptr<OverlayPanel> FakeOverlayPanels::showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers)
{
    auto record = std::make_shared<Record>();
    record->screen = screen;
    record->handlers = std::move(handlers);
    record->unmapsLate = unmapLate;
    records_.push_back(record);
    return std::make_unique<Panel>(record);
}

bool FakeOverlayPanels::anyPanelOnScreen()
{
    for (const auto& record : records_)
        if (record->mapped) return true;
    return false;
}

void FakeOverlayPanels::finishUnmapping()
{
    for (const auto& record : records_)
        if (!record->onScreen) record->mapped = false;
}

std::vector<std::shared_ptr<FakeOverlayPanels::Record>> FakeOverlayPanels::onScreen() const
{
    std::vector<std::shared_ptr<Record>> visible;
    for (const auto& record : records_)
        if (record->onScreen) visible.push_back(record);
    return visible;
}

std::shared_ptr<FakeOverlayPanels::Record> FakeOverlayPanels::panelAt(Point quartzPoint) const
{
    for (const auto& record : records_)
        if (record->onScreen && record->screen.quartzBounds.contains(quartzPoint)) return record;
    return nullptr;
}

// Each handler is copied before the call: the coordinator may release the panel while it runs.

bool FakeOverlayPanels::move(Point to)
{
    const auto record = panelAt(to);
    if (!record) return false;
    const auto handler = record->handlers.onMove;
    if (handler) handler(to);
    return true;
}

bool FakeOverlayPanels::mouseDown(Point at)
{
    const auto record = panelAt(at);
    if (!record) return false;
    pressed_ = record;
    const auto handler = record->handlers.onMouseDown;
    if (handler) handler(at);
    return true;
}

std::shared_ptr<FakeOverlayPanels::Record> FakeOverlayPanels::pressedOr(Point at) const
{
    // Like the window system, the panel where the button went down keeps the events until it is
    // released, wherever the pointer goes.
    if (pressed_ && pressed_->onScreen) return pressed_;
    return panelAt(at);
}

bool FakeOverlayPanels::drag(Point to)
{
    const auto record = pressedOr(to);
    if (!record) return false;
    const auto handler = record->handlers.onDrag;
    if (handler) handler(to);
    return true;
}

bool FakeOverlayPanels::mouseUp(Point at)
{
    const auto record = pressedOr(at);
    pressed_.reset();
    if (!record) return false;
    const auto handler = record->handlers.onMouseUp;
    if (handler) handler(at);
    return true;
}

bool FakeOverlayPanels::click(Point at)
{
    return mouseDown(at) && mouseUp(at);
}

bool FakeOverlayPanels::pressEscape()
{
    const auto visible = onScreen();
    if (visible.empty()) return false;
    const auto handler = visible.front()->handlers.onCancel;
    if (handler) handler();
    return true;
}

} // namespace zorvane::fakes
