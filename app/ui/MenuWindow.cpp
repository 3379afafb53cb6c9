#include "app/ui/MenuWindow.h"

#include "app/ui/Theme.h"
#include "app/ui/WindowSurface.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QScreen>

#include <algorithm>

namespace zorvane::ui {
namespace {

constexpr double menuCornerRadius = 14;
constexpr int screenMargin = 6;
constexpr int anchorGap = 4;

} // namespace

MenuWindow::MenuWindow(AppModel& model, MenuBarView::Actions actions)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("menuWindow"));
    setWindowTitle(QStringLiteral("Zorvane"));
    setAttribute(Qt::WA_QuitOnClose, false);
    if (!actions.dismiss) actions.dismiss = [this] { hide(); };
    view_ = new MenuBarView(model, std::move(actions), this);
    WindowSurface::wrap(this, view_, menuCornerRadius);
    Theme::shared().apply(this);
    connect(&Theme::shared(), &Theme::changed, this, [this] { Theme::shared().apply(this); });
    layout()->setSizeConstraint(QLayout::SetFixedSize);
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

void MenuWindow::showNear(const QRect& anchor)
{
    view_->refresh();
    adjustSize();
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor.isEmpty() ? pointer : anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    move(placement(anchor, pointer, size(), area));
    show();
    raise();
    activateWindow();
}

void MenuWindow::toggleNear(const QRect& anchor)
{
    if (isVisible()) {
        hide();
        return;
    }
    showNear(anchor);
}

void MenuWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace zorvane::ui
