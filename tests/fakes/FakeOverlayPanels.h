#pragma once

#include "app/platform/OverlayPanels.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::fakes {

// Overlay panels that exist only as records of what each would show and whether it is on the
// screen. Records outlive their panels, so a panel may be released from inside its own handler.
class FakeOverlayPanels : public OverlayPanels {
public:
    struct Record {
        ScreenDescription screen;
        OverlayPanelHandlers handlers;
        std::optional<Rect> highlightRect;
        std::string label = "Área visual";
        bool onScreen = true; // shown, not yet ordered out or released
        bool mapped = true;   // what the window system reports
        bool unmapsLate = false;
    };

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override
    {
        records_.push_back(std::make_shared<Record>(Record {screen, std::move(handlers), std::nullopt, "Área visual", true, true, unmapLate}));
        return std::make_unique<Panel>(records_.back());
    }
    bool anyPanelOnScreen() override
    {
        return std::any_of(records_.begin(), records_.end(), [](const auto& record) { return record->mapped; });
    }

    // Panels shown from now on stay mapped once ordered out until finishUnmapping(), as with a
    // window system that unmaps asynchronously.
    bool unmapLate = false;
    void finishUnmapping()
    {
        for (const auto& record : records_) record->mapped = record->onScreen;
    }

    // Every panel ever shown, and those still on the screen, in the order shown.
    const std::vector<std::shared_ptr<Record>>& shown() const { return records_; }
    std::vector<std::shared_ptr<Record>> onScreen() const
    {
        std::vector<std::shared_ptr<Record>> visible;
        for (const auto& record : records_)
            if (record->onScreen) visible.push_back(record);
        return visible;
    }
    // The user's hand: what a panel on the screen reports (every panel reports the same way). A
    // copy, so a handler may release its panel while it runs.
    OverlayPanelHandlers user() const { return onScreen().at(0)->handlers; }
    void click(Point at)
    {
        user().onMouseDown(at);
        user().onMouseUp(at);
    }

private:
    class Panel : public OverlayPanel {
    public:
        explicit Panel(std::shared_ptr<Record> record) : record_(std::move(record)) {}
        ~Panel() override { orderOut(); }
        void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
        {
            record_->highlightRect = highlightRect;
            record_->label = label;
        }
        void orderOut() override
        {
            record_->onScreen = false;
            record_->mapped = record_->mapped && record_->unmapsLate;
        }

    private:
        std::shared_ptr<Record> record_;
    };

    std::vector<std::shared_ptr<Record>> records_;
};

} // namespace zorvane::fakes
