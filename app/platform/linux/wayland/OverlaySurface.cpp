#include "app/platform/linux/wayland/OverlaySurface.h"

#include "app/platform/linux/OverlayCanvas.h"
#include "app/selection/SelectionCanvasLayout.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace zorvane {

namespace {

namespace Layout = SelectionCanvasLayout;


} // namespace

OverlaySurface::OverlaySurface(QScreen* screen, Rect quartzBounds, OverlayPanelHandlers handlers)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      screen_(screen),
      quartzBounds_(quartzBounds),
      handlers_(std::move(handlers)),
      label_(Layout::defaultLabel)
{
    setObjectName(QStringLiteral("selectionOverlayPanel"));
    setWindowTitle(QStringLiteral("Zorvane"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    // Chosen before the window exists: a refusal shows the live desktop through it.
    setAttribute(Qt::WA_TranslucentBackground);
}

void OverlaySurface::place()
{
    // The output is chosen before the window first maps: afterwards the compositor decides.
    winId();
    if (screen_) {
        windowHandle()->setScreen(screen_);
        setGeometry(screen_->geometry());
    }
    showFullScreen();
    raise();
    activateWindow();
}

void OverlaySurface::showFrame(QImage picture, QRectF source)
{
    frame_ = std::move(picture);
    source_ = source;
    place();
}

void OverlaySurface::showRefusal(const std::string& message)
{
    mode_ = Mode::refused;
    setCursor(Qt::ArrowCursor);
    message_ = new QLabel(QString::fromStdString(message) + QStringLiteral("\n\nEsc o clic: cerrar"));
    message_->setObjectName(QStringLiteral("captureRefusal"));
    message_->setWordWrap(true);
    message_->setFixedWidth(560);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Readable whether the desktop shows through (most compositors) or not (GNOME keeps what lies
    // under a full-screen window black).
    message_->setStyleSheet(QStringLiteral("QLabel { background: rgba(36,36,38,240); color: white; border: 1px solid rgba(255,255,255,60); "
                                           "border-radius: 16px; padding: 22px; font-size: 15px; }"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_, 0, Qt::AlignCenter);
    place();
}

void OverlaySurface::setHighlight(const std::optional<Rect>& highlight, const std::string& label)
{
    highlight_ = highlight;
    label_ = label;
    update();
}

void OverlaySurface::becomeBackdrop(std::function<void()> dismissed)
{
    dismissed_ = std::move(dismissed);
    reporting_ = false;
    mode_ = Mode::backdrop;
    setCursor(Qt::ArrowCursor);
    update();
}

void OverlaySurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (frame_.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
        painter.drawImage(QRectF(rect()), frame_, source_);
    }

    // A refusal over the live desktop: a deeper veil, so the message reads on any background. The
    // backdrop behind the chat panel has done with the hint.
    linux_platform::OverlayCanvasStyle style;
    if (mode_ == Mode::refused) style = {QColor(0, 0, 0, 90), false, false};
    if (mode_ == Mode::backdrop) style.hint = false;
    linux_platform::paintOverlayCanvas(painter, QSizeF(width(), height()), highlight_, label_, style);
}

Point OverlaySurface::quartzPoint(QPointF local) const
{
    // Full screen on its output: Wayland gives no global position, the screen's origin is ours.
    return {quartzBounds_.minX() + local.x(), quartzBounds_.minY() + local.y()};
}

void OverlaySurface::report(const std::function<void(Point)>& handler, QPointF local)
{
    if (reporting_ && mode_ == Mode::selecting && handler) handler(quartzPoint(local));
}

void OverlaySurface::enterEvent(QEnterEvent* event) { report(handlers_.onMove, event->position()); }

void OverlaySurface::mouseMoveEvent(QMouseEvent* event)
{
    report(pressed_ && (event->buttons() & Qt::LeftButton) ? handlers_.onDrag : handlers_.onMove, event->position());
}

void OverlaySurface::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    report(handlers_.onMouseDown, event->position());
}

void OverlaySurface::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    if (mode_ == Mode::backdrop) {
        // Run once the event is done with: it takes this surface off the screen.
        if (auto dismissed = std::exchange(dismissed_, {})) QMetaObject::invokeMethod(this, std::move(dismissed), Qt::QueuedConnection);
        return;
    }
    if (mode_ == Mode::refused) {
        if (reporting_ && handlers_.onKeyDown) handlers_.onKeyDown(KeyEvent {KeyEvent::escape});
        return;
    }
    if (!pressed_) return;
    pressed_ = false;
    report(handlers_.onMouseUp, event->position());
}

void OverlaySurface::keyPressEvent(QKeyEvent* event)
{
    // The keys a selection acts on, in the numbering the core reads; the rest are swallowed, as the
    // overlay holds the keyboard.
    static const std::pair<int, int> keys[] = {{Qt::Key_Escape, KeyEvent::escape}, {Qt::Key_Return, KeyEvent::returnKey},
        {Qt::Key_Enter, KeyEvent::keypadEnter}, {Qt::Key_Tab, KeyEvent::tab}, {Qt::Key_Backtab, KeyEvent::tab},
        {Qt::Key_PageUp, KeyEvent::pageUp}, {Qt::Key_PageDown, KeyEvent::pageDown}, {Qt::Key_Left, KeyEvent::leftArrow},
        {Qt::Key_Right, KeyEvent::rightArrow}, {Qt::Key_Down, KeyEvent::downArrow}, {Qt::Key_Up, KeyEvent::upArrow}};
    if (!reporting_ || mode_ == Mode::backdrop) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A refusal card only closes.
    for (const auto& [qtKey, code] : keys) {
        if (event->key() != qtKey || (mode_ == Mode::refused && code != KeyEvent::escape)) continue;
        const bool shift = event->key() == Qt::Key_Backtab || event->modifiers().testFlag(Qt::ShiftModifier);
        if (handlers_.onKeyDown) handlers_.onKeyDown(KeyEvent {code, shift});
        return;
    }
}

} // namespace zorvane
