#pragma once

#include "app/platform/ChatPanelController.h"
#include "app/platform/Screens.h"
#include "app/ui/ChatPanelController.h"

#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace zorvane::ui {

// The chat panel on Wayland, where a window cannot place itself. Right after a selection the
// overlay's frozen frame stays up as a backdrop and the panel opens inside it, beside the
// selection as ChatPanelPlacement says, with the keyboard in its text field. When the question is
// sent or the panel is closed, the backdrop goes and the panel is an ordinary window that the
// compositor places.
class WaylandChatPanelController final : public ChatPanelController {
public:
    struct Backdrop {
        // Keeps the selection's frozen frame up and gives the surface holding the most of the
        // rectangle (Quartz points); null when there is none. `dismissed` runs when the user
        // clicks the frozen frame outside the panel.
        std::function<QWidget*(const Rect& quartzRect, std::function<void()> dismissed)> claim;
        std::function<void()> release;
    };

    WaylandChatPanelController(std::shared_ptr<Screens> screens, Backdrop backdrop, bool inTaskBar = false);
    ~WaylandChatPanelController() override;

    void prepare(AppModel& model) override;
    void show(AppModel& model, const Rect& nearQuartzRect) override;
    void expandForResponse() override;
    void hide() override;
    // The capture comes from the snapshot taken before the panel showed: nothing to leave out.
    std::optional<std::uint32_t> windowNumber() override { return std::nullopt; }
    bool isOnScreen() override;

    ChatPanelWindow* window() const { return panel_.window(); }
    bool isInsideBackdrop() const { return hosted_; }

private:
    // Out of the backdrop (which then goes), an ordinary window again.
    void leaveBackdrop();

    std::shared_ptr<Screens> screens_;
    Backdrop backdrop_;
    QtChatPanelController panel_;
    Qt::WindowFlags windowFlags_;
    bool hosted_ = false;
    Rect lastRect_; // the selection the panel was last shown for

};

} // namespace zorvane::ui
