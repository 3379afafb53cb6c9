#include "app/ui/WaylandChatPanel.h"

#include "app/model/AppModel.h"
#include "app/model/ChatPanelPlacement.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace zorvane::ui {

namespace {

// The panel's own corner radius.
constexpr double cornerRadius = 20;

QSize qtSize(Size size) { return QSize(int(std::lround(size.width)), int(std::lround(size.height))); }

} // namespace

WaylandChatPanelController::WaylandChatPanelController(std::shared_ptr<Screens> screens, Backdrop backdrop, bool inTaskBar)
    : screens_(screens), backdrop_(std::move(backdrop)), panel_(std::move(screens), inTaskBar)
{
}

WaylandChatPanelController::~WaylandChatPanelController() { leaveBackdrop(); }

void WaylandChatPanelController::prepare(AppModel& model)
{
    panel_.prepare(model);
    windowFlags_ = panel_.window()->windowFlags();
}

void WaylandChatPanelController::show(AppModel& model, const Rect& nearQuartzRect)
{
    prepare(model);
    ChatPanelWindow* window = panel_.window();
    leaveBackdrop();
    lastRect_ = nearQuartzRect;
    window->setFixedSize(qtSize(ChatPanelPlacement::compactSize));

    // A click beside the panel unfreezes the desktop; the panel stays, as an ordinary window.
    const auto dismissed = [this, weak = model.weak_from_this()] {
        if (!hosted_) return;
        leaveBackdrop();
        if (ChatPanelWindow* w = panel_.window()) {
            w->show();
            w->activateWindow();
        }
        if (auto model = weak.lock()) model->requestComposerFocus();
    };
    if (QWidget* host = backdrop_.claim ? backdrop_.claim(nearQuartzRect, dismissed) : nullptr) {
        // Where ChatPanelPlacement puts the panel, in the backdrop's own coordinates.
        const auto all = screens_->screens();
        const double primaryHeight = all.empty() ? 0 : all.front().appKitFrame.maxY();
        const Rect frame = ChatPanelPlacement::positionedFrame(*screens_, ChatPanelPlacement::compactSize, nearQuartzRect);
        QScreen* primary = QGuiApplication::primaryScreen();
        const QPoint quartzOrigin = primary ? primary->geometry().topLeft() : QPoint();
        const QPoint global = quartzOrigin + QPoint(int(std::lround(frame.minX())), int(std::lround(primaryHeight - frame.maxY())));
        window->setParent(host, Qt::Widget);
        window->move(global - host->geometry().topLeft());
        // Inside another window nothing shows through its rounded corners: they are cut away.
        QPainterPath outline;
        outline.addRoundedRect(QRectF(window->rect()), cornerRadius, cornerRadius);
        window->setMask(QRegion(outline.toFillPolygon().toPolygon()));
        hosted_ = true;
        window->show();
        window->raise();
        host->activateWindow();
    } else {
        window->show();
        window->raise();
        window->activateWindow();
    }
    model.requestComposerFocus();
    // Once more on the next turn: the compositor gives the keyboard a moment after mapping.
    std::weak_ptr<AppModel> weak = model.weak_from_this();
    QPointer<ChatPanelWindow> guarded = window;
    QTimer::singleShot(0, window, [weak, guarded] {
        auto model = weak.lock();
        if (!model || !guarded) return;
        guarded->activateWindow();
        model->requestComposerFocus();
    });
}

void WaylandChatPanelController::expandForResponse()
{
    ChatPanelWindow* window = panel_.window();
    if (!window) return;
    const bool wasVisible = window->isVisible();
    leaveBackdrop();
    // The compositor places an ordinary window; a fixed size keeps tiling desktops from tiling it.
    // It fits the screen of the selection, 12 points inside each edge.
    Size size = ChatPanelPlacement::expandedSize;
    for (const auto& screen : screens_->screens()) {
        if (!screen.quartzBounds.contains({lastRect_.midX(), lastRect_.midY()})) continue;
        size.width = std::min(size.width, screen.visibleFrame.width() - 24);
        size.height = std::min(size.height, screen.visibleFrame.height() - 24);
    }
    window->setFixedSize(qtSize(size));
    if (wasVisible) {
        window->show();
        window->activateWindow();
    }
}

void WaylandChatPanelController::hide()
{
    leaveBackdrop();
    panel_.hide();
}

bool WaylandChatPanelController::isOnScreen() { return panel_.window() && panel_.window()->isVisible(); }

void WaylandChatPanelController::leaveBackdrop()
{
    if (!hosted_) return;
    hosted_ = false;
    if (ChatPanelWindow* window = panel_.window()) {
        // Out of the backdrop before it goes: it would take its children with it.
        window->hide();
        window->clearMask();
        window->setParent(nullptr, windowFlags_);
    }
    if (backdrop_.release) backdrop_.release();
}

} // namespace zorvane::ui
