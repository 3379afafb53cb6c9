#include "app/ui/ChatPanelController.h"

#include "app/model/AppModel.h"
#include "app/model/ChatPanelPlacement.h"
#include "app/ui/Accessibility.h"
#include "app/ui/ComposerView.h"
#include "app/ui/Language.h"
#include "app/ui/Theme.h"
#include "app/ui/WindowSurface.h"
#include "app/ui/X11WindowHints.h"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace zorvane::ui {
namespace {

constexpr double panelCornerRadius = 20;

// Where Quartz's origin (the primary screen's top-left) lies in Qt's global coordinates.
QPoint quartzOriginInQt()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry().topLeft() : QPoint();
}

double primaryHeight(Screens& screens)
{
    const auto all = screens.screens();
    return all.empty() ? 0 : all.front().appKitFrame.maxY();
}

} // namespace

ChatPanelWindow::ChatPanelWindow(AppModel& model, bool inTaskBar)
    : QWidget(nullptr, (inTaskBar ? Qt::Window : Qt::Tool) | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    Accessibility::install();
    Language::install();
    setObjectName(QStringLiteral("chatPanel"));
    setWindowTitle(QStringLiteral("Zorvane"));
    Accessibility::setRole(this, QAccessible::Window);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    composer_ = new ComposerView(model, this);
    WindowSurface::wrap(this, composer_, panelCornerRadius, true);
    Theme::shared().apply(this);
    QObject::connect(&Theme::shared(), &Theme::changed, this, [this] { Theme::shared().apply(this); });
    const QSize compact(static_cast<int>(ChatPanelPlacement::compactSize.width), static_cast<int>(ChatPanelPlacement::compactSize.height));
    setMinimumSize(200, 120);
    resize(compact);
    X11WindowHints::prepare(this, inTaskBar, true);
}

void ChatPanelWindow::mousePressEvent(QMouseEvent* event)
{
    // Presses that no control took land here: dragging the background moves the panel.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

QtChatPanelController::QtChatPanelController(std::shared_ptr<Screens> screens, bool inTaskBar)
    : screens_(std::move(screens)), inTaskBar_(inTaskBar)
{
}

QtChatPanelController::~QtChatPanelController() { delete window_.data(); }

void QtChatPanelController::build(AppModel& model)
{
    if (window_) return;
    window_ = new ChatPanelWindow(model, inTaskBar_);
    // Laid out once, hidden, so the first show only maps it.
    window_->ensurePolished();
    if (window_->layout()) window_->layout()->activate();
}

void QtChatPanelController::prepare(AppModel& model) { build(model); }

QRect QtChatPanelController::toQt(const Rect& frame)
{
    const double quartzY = primaryHeight(*screens_) - frame.maxY();
    const QPoint origin = quartzOriginInQt();
    return QRect(origin.x() + static_cast<int>(std::lround(frame.minX())), origin.y() + static_cast<int>(std::lround(quartzY)),
                 static_cast<int>(std::lround(frame.width())), static_cast<int>(std::lround(frame.height())));
}

Rect QtChatPanelController::toAppKit(const QRect& geometry)
{
    const QPoint origin = quartzOriginInQt();
    const double quartzX = geometry.x() - origin.x();
    const double quartzY = geometry.y() - origin.y();
    return Rect(quartzX, primaryHeight(*screens_) - quartzY - geometry.height(), geometry.width(), geometry.height());
}

void QtChatPanelController::show(AppModel& model, const Rect& nearQuartzRect)
{
    build(model);
    if (animation_) animation_->stop();
    // Always back at the compact size, whatever the last answer made it.
    const Rect frame = ChatPanelPlacement::positionedFrame(*screens_, ChatPanelPlacement::compactSize, nearQuartzRect);
    window_->setGeometry(toQt(frame));
    window_->setWindowOpacity(1.0);
    // Out of the task bar and on every workspace again: the window manager forgot it at the last hide.
    if (!window_->isVisible()) X11WindowHints::prepare(window_, inTaskBar_, true);
    window_->show();
    window_->raise();
    window_->activateWindow();
    X11WindowHints::activate(window_);
    model.requestComposerFocus();

    // Once more on the next turn: window managers may map the window a moment later.
    std::weak_ptr<AppModel> weak = model.weak_from_this();
    QPointer<ChatPanelWindow> window = window_;
    QTimer::singleShot(0, window_, [weak, window, inTaskBar = inTaskBar_] {
        auto model = weak.lock();
        if (!model || !window) return;
        X11WindowHints::restate(window, inTaskBar, true);
        window->activateWindow();
        X11WindowHints::activate(window);
        model->requestComposerFocus();
    });
}

void QtChatPanelController::expandForResponse()
{
    if (!window_) return;
    const Rect target = ChatPanelPlacement::expandedFrame(*screens_, toAppKit(window_->geometry()));
    if (animation_) animation_->stop();
    auto* animation = new QPropertyAnimation(window_, "geometry", window_);
    animation->setDuration(static_cast<int>(ChatPanelPlacement::animationDuration * 1000));
    QEasingCurve easeInOut(QEasingCurve::BezierSpline);
    easeInOut.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    animation->setEasingCurve(easeInOut);
    animation->setStartValue(window_->geometry());
    animation->setEndValue(toQt(target));
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void QtChatPanelController::hide()
{
    if (!window_) return;
    if (animation_) animation_->stop();
    window_->hide();
}

std::optional<std::uint32_t> QtChatPanelController::windowNumber()
{
    if (!window_ || !window_->testAttribute(Qt::WA_WState_Created)) return std::nullopt;
    return static_cast<std::uint32_t>(window_->winId());
}

bool QtChatPanelController::isOnScreen() { return window_ && X11WindowHints::isViewable(window_); }

} // namespace zorvane::ui
