#include "app/ui/MenuWindow.h"

#include "app/ui/Accessibility.h"
#include "app/ui/Controls.h"
#include "app/ui/Language.h"
#include "app/ui/Theme.h"
#include "app/ui/WindowSurface.h"
#include "app/ui/X11WindowHints.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace zorvane::ui {
namespace {

constexpr double menuCornerRadius = 14;
constexpr int screenMargin = 6;
constexpr int anchorGap = 4;
// A click on the tray icon that took the keyboard away already closed the menu: it stays closed.
constexpr int reopenGuardMs = 300;
constexpr int deactivationGraceMs = 150;

} // namespace

MenuWindow::MenuWindow(AppModel& model, MenuBarView::Actions actions)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint)
{
    Accessibility::install();
    Language::install();
    setObjectName(QStringLiteral("menuWindow"));
    setWindowTitle(QStringLiteral("Zorvane"));
    Accessibility::setRole(this, QAccessible::Window);
    setAttribute(Qt::WA_QuitOnClose, false);
    if (!actions.dismiss) actions.dismiss = [this] { hide(); };
    view_ = new MenuBarView(model, std::move(actions), this);
    WindowSurface::wrap(this, view_, menuCornerRadius);
    Theme::shared().apply(this);
    connect(&Theme::shared(), &Theme::changed, this, [this] { Theme::shared().apply(this); });
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    X11WindowHints::prepare(this, false, false);
}

QPoint MenuWindow::placement(const QRect& anchor, const QPoint& pointer, const QSize& size, const QRect& area)
{
    QPoint at;
    if (anchor.isEmpty()) {
        at = pointer;
    } else {
        // Centred under the icon; above it when the icon is in the lower half (a bottom panel).
        at.setX(anchor.center().x() - size.width() / 2);
        const bool below = anchor.center().y() < area.center().y();
        at.setY(below ? anchor.bottom() + 1 + anchorGap : anchor.top() - anchorGap - size.height());
    }
    if (area.isEmpty()) return at;
    at.setX(std::clamp(at.x(), area.left() + screenMargin, std::max(area.left() + screenMargin, area.right() + 1 - screenMargin - size.width())));
    at.setY(std::clamp(at.y(), area.top() + screenMargin, std::max(area.top() + screenMargin, area.bottom() + 1 - screenMargin - size.height())));
    return at;
}

QRect MenuWindow::screenArea(const QPoint& at) const
{
    QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void MenuWindow::showNear(const QRect& anchor)
{
    view_->refresh();
    adjustSize();
    anchor_ = anchor;
    const QPoint pointer = QCursor::pos();
    move(placement(anchor, pointer, size(), screenArea(anchor.isEmpty() ? pointer : anchor.center())));
    X11WindowHints::prepare(this, false, false); // the window manager forgot them when it was hidden
    show();
    raise();
    activateWindow();
    X11WindowHints::activate(this);
    // The keyboard starts on the window itself: the first Tab goes to its first control.
    view_->setFocus(Qt::ActiveWindowFocusReason);
}

void MenuWindow::toggleNear(const QRect& anchor)
{
    if (isVisible()) {
        hide();
        return;
    }
    if (closedByDeactivation_.isValid() && closedByDeactivation_.elapsed() < reopenGuardMs) return;
    showNear(anchor);
}

void MenuWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    if (pressFocusedButton(this, event)) return;
    QWidget::keyPressEvent(event);
}

void MenuWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Grown while open (an error shown in place): still beside its icon and inside the screen.
    if (isVisible()) move(placement(anchor_, pos(), size(), screenArea(anchor_.isEmpty() ? pos() : anchor_.center())));
}

void MenuWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isVisible() || isActiveWindow()) return;
    // A click elsewhere took the keyboard: the menu closes as a menu would. A moment later, as
    // window managers may pass the keyboard around and give it straight back.
    QTimer::singleShot(deactivationGraceMs, this, [this] {
        if (!isVisible() || isActiveWindow()) return;
        hide();
        closedByDeactivation_.start();
    });
}

} // namespace zorvane::ui
