#pragma once

#include "app/platform/ChatPanelController.h"
#include "app/platform/Screens.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QPropertyAnimation;

namespace zorvane::ui {

class ComposerView;

// The borderless floating window titled "Zorvane" that holds the composer: kept above other
// windows and on every workspace, movable by dragging its background.
class ChatPanelWindow : public QWidget {
    Q_OBJECT
public:
    ChatPanelWindow(AppModel& model, bool inTaskBar);
    ComposerView* composer() const { return composer_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    ComposerView* composer_ = nullptr;
};

// The chat panel on Qt: built once, placed by ChatPanelPlacement on the real screens, shown with
// the keyboard, grown for answers with a 0.28 s ease-in-out animation.
class QtChatPanelController final : public ChatPanelController {
public:
    // `inTaskBar`: the "--ui-test" launch, whose windows appear in the task bar.
    QtChatPanelController(std::shared_ptr<Screens> screens, bool inTaskBar = false);
    ~QtChatPanelController() override;

    void prepare(AppModel& model) override;
    void show(AppModel& model, const Rect& nearQuartzRect) override;
    void expandForResponse() override;
    void hide() override;
    std::optional<std::uint32_t> windowNumber() override;
    bool isOnScreen() override;

    // The panel window, once built (tests, screenshots).
    ChatPanelWindow* window() const { return window_.data(); }

private:
    void build(AppModel& model);
    // AppKit global frames (points) to Qt's global coordinates and back.
    QRect toQt(const Rect& appKitFrame);
    Rect toAppKit(const QRect& qtGeometry);

    std::shared_ptr<Screens> screens_;
    bool inTaskBar_;
    QPointer<ChatPanelWindow> window_;
    QPointer<QPropertyAnimation> animation_;
};

} // namespace zorvane::ui
