#include "app/platform/linux/wayland/WaylandOverlayPanels.h"

#include "app/platform/linux/wayland/OverlaySurface.h"
#include "app/platform/linux/wayland/WaylandScreens.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace zorvane {

struct WaylandOverlayPanels::Selection {
    std::vector<QPointer<OverlaySurface>> surfaces; // those not yet ordered out
    std::optional<SnapshotOutcome> outcome;
    std::shared_ptr<const DesktopSnapshot> snapshot;
};

namespace {

// How long a window of ours that has just been hidden may still be on the compositor's screen
// (GNOME Shell animates a window leaving; 150 ms was not always enough there).
constexpr auto ownWindowLeaving = std::chrono::milliseconds(400);

// Notes every top-level window of ours that is hidden, except the overlay's own surfaces.
class HideWatch final : public QObject {
public:
    HideWatch(QObject* parent, std::function<void()> hidden) : QObject(parent), hidden_(std::move(hidden)) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && object->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(object);
            if (widget->isWindow() && !dynamic_cast<OverlaySurface*>(widget)) hidden_();
        }
        return false;
    }

private:
    std::function<void()> hidden_;
};

void present(OverlaySurface& surface, const SnapshotOutcome& outcome)
{
    if (const auto* refusal = std::get_if<CaptureRefusal>(&outcome)) surface.showRefusal(refusal->message);
    else {
        auto frame = std::get<DesktopSnapshot>(outcome).frameOf(surface.quartzBounds());
        surface.showFrame(std::move(frame.image), frame.source);
    }
}

class WaylandOverlayPanel final : public OverlayPanel {
public:
    WaylandOverlayPanel(OverlaySurface* surface, std::function<void(OverlaySurface*)> leave)
        : surface_(surface), leave_(std::move(leave))
    {
    }
    ~WaylandOverlayPanel() override { orderOut(); }

    void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
    {
        if (surface_) surface_->setHighlight(highlightRect, label);
    }

    void orderOut() override
    {
        if (!surface_) return;
        surface_->stopReporting();
        leave_(surface_);
        surface_ = nullptr;
    }

private:
    QPointer<OverlaySurface> surface_;
    std::function<void(OverlaySurface*)> leave_;
};

} // namespace

WaylandOverlayPanels::WaylandOverlayPanels(std::shared_ptr<WaylandDesktopCapture> capture, std::shared_ptr<WaylandWindowImages> windowImages)
    : capture_(std::move(capture)), windowImages_(std::move(windowImages))
{
    if (qApp) {
        hideWatch_ = new HideWatch(qApp, [this] { lastOwnWindowHidden_ = std::chrono::steady_clock::now(); });
        qApp->installEventFilter(hideWatch_);
    }
}

WaylandOverlayPanels::~WaylandOverlayPanels()
{
    *alive_ = false;
    delete hideWatch_;
    releaseBackdrop();
    for (auto& surface : leaving_) delete surface.data();
    if (current_)
        for (auto& surface : current_->surfaces) delete surface.data();
}

std::unique_ptr<OverlayPanel> WaylandOverlayPanels::showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers)
{
    // A selection's panels are shown together: the first one starts the capture they all show.
    const bool starting = !current_ || std::none_of(current_->surfaces.begin(), current_->surfaces.end(), [](auto& s) { return !s.isNull(); });
    if (starting) {
        auto selection = std::make_shared<Selection>();
        current_ = selection;
        std::weak_ptr<bool> alive = alive_;
        const auto take = [this, alive, selection] {
            if (alive.expired()) return;
            capture_->take([this, alive, selection](SnapshotOutcome outcome) {
                if (!alive.expired()) captured(selection, std::move(outcome));
            });
        };
        // The chat panel hidden for this selection may still be on the screen a moment longer.
        const auto left = std::chrono::steady_clock::now() - lastOwnWindowHidden_;
        if (left >= ownWindowLeaving) take();
        else QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(ownWindowLeaving - left), take);
    }
    auto* surface = new OverlaySurface(WaylandScreens::qtScreenFor(screen.quartzBounds), screen.quartzBounds, std::move(handlers));
    current_->surfaces.emplace_back(surface);
    if (current_->outcome) present(*surface, *current_->outcome);
    return std::make_unique<WaylandOverlayPanel>(surface, [this](OverlaySurface* s) { leave(s); });
}

void WaylandOverlayPanels::captured(const std::shared_ptr<Selection>& selection, SnapshotOutcome outcome)
{
    std::erase_if(selection->surfaces, [](auto& s) { return s.isNull(); });
    // Given up before the desktop answered: nothing to show, nothing to keep.
    if (selection->surfaces.empty()) return;
    if (auto* snapshot = std::get_if<DesktopSnapshot>(&outcome)) {
        selection->snapshot = std::make_shared<const DesktopSnapshot>(*snapshot);
        windowImages_->setSnapshot(selection->snapshot);
    }
    selection->outcome = std::move(outcome);
    for (auto& surface : selection->surfaces) present(*surface, *selection->outcome);
}

void WaylandOverlayPanels::leave(OverlaySurface* surface)
{
    if (current_) {
        std::erase_if(current_->surfaces, [surface](auto& s) { return s.isNull() || s.data() == surface; });
        if (current_->surfaces.empty() && current_->snapshot) {
            QTimer::singleShot(snapshotGraceMilliseconds, [images = windowImages_, snapshot = current_->snapshot] { images->release(snapshot); });
        }
    }
    leaving_.emplace_back(surface);
    // Unless the chat panel takes it as its backdrop during this turn, it goes on the next one.
    QPointer<OverlaySurface> guarded = surface;
    QTimer::singleShot(0, surface, [this, guarded] {
        if (!guarded || guarded->mode() == OverlaySurface::Mode::backdrop) return;
        std::erase_if(leaving_, [&](auto& s) { return s.isNull() || s == guarded; });
        guarded->hide();
        guarded->deleteLater();
    });
}

bool WaylandOverlayPanels::anyPanelOnScreen()
{
    const auto showing = [](const QPointer<OverlaySurface>& s) { return s && s->isVisible() && s->mode() != OverlaySurface::Mode::backdrop; };
    return std::any_of(leaving_.begin(), leaving_.end(), showing)
        || (current_ && std::any_of(current_->surfaces.begin(), current_->surfaces.end(), showing));
}

QWidget* WaylandOverlayPanels::claimBackdrop(const Rect& quartzRect, std::function<void()> dismissed)
{
    releaseBackdrop();
    OverlaySurface* best = nullptr;
    double bestArea = -1;
    for (auto& surface : leaving_) {
        // Only a frozen frame can be a backdrop; a refusal has nothing to show behind the panel.
        if (!surface || !surface->isVisible() || surface->mode() == OverlaySurface::Mode::refused) continue;
        surface->becomeBackdrop(dismissed);
        backdrop_.push_back(surface);
        const double area = surface->quartzBounds().intersection(quartzRect.standardized()).area();
        if (area > bestArea) {
            best = surface;
            bestArea = area;
        }
    }
    std::erase_if(leaving_, [](auto& s) { return s.isNull() || s->mode() == OverlaySurface::Mode::backdrop; });
    return best;
}

void WaylandOverlayPanels::releaseBackdrop()
{
    for (auto& surface : backdrop_) {
        if (!surface) continue;
        surface->hide();
        surface->deleteLater();
    }
    backdrop_.clear();
}

} // namespace zorvane
