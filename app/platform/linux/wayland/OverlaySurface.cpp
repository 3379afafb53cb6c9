#include "app/platform/linux/wayland/OverlaySurface.h"

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

QFont systemFont(const Layout::Font& spec)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(static_cast<int>(spec.size));
    font.setWeight(spec.weight == Layout::FontWeight::semibold ? QFont::DemiBold : QFont::Medium);
    return font;
}

QRectF toQt(const Rect& r) { return QRectF(r.minX(), r.minY(), r.width(), r.height()); }

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

    const QColor accent = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    const auto color = [&accent](const Layout::Fill& fill) {
        QColor c = fill.paint == Layout::Paint::accent ? accent : fill.paint == Layout::Paint::white ? QColor(Qt::white) : QColor(Qt::black);
        c.setAlphaF(static_cast<float>(fill.alpha));
        return c;
    };
    const auto rounded = [](const Layout::RoundedRect& r) {
        QPainterPath path;
        path.addRoundedRect(toQt(r.rect), r.cornerRadius, r.cornerRadius);
        return path;
    };
    const auto measure = [](const std::string& text, const Layout::Font& font) {
        return QFontMetricsF(systemFont(font)).horizontalAdvance(QString::fromStdString(text));
    };
    const Layout::Drawing drawing = Layout::layout(Size {double(width()), double(height())}, highlight_, label_, measure);
    // A refusal over the live desktop: a deeper veil, so the message reads on any background.
    painter.fillRect(toQt(drawing.veil), mode_ == Mode::refused ? QColor(0, 0, 0, 90) : color(drawing.veilFill));
    if (mode_ == Mode::refused) return;

    if (const auto& h = drawing.highlight) {
        const QPainterPath outline = rounded(h->outline);
        painter.fillPath(outline, color(h->fill));
        painter.strokePath(outline, QPen(color(h->stroke), h->lineWidth));
        painter.fillPath(rounded(h->labelPill), color(h->labelPillFill));
        const QFont font = systemFont(h->labelFont);
        const QRectF textRect = toQt(h->labelTextRect);
        painter.setFont(font);
        painter.setPen(color(h->labelTextFill));
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetricsF(font).elidedText(QString::fromStdString(h->labelText), Qt::ElideRight, textRect.width()));
    }
    // The hint is about selecting: the backdrop behind the chat panel has done with it.
    if (mode_ == Mode::backdrop) return;
    const Layout::Hint& hint = drawing.hint;
    painter.fillPath(rounded(hint.pill), color(hint.fill));
    const QFont hintFont = systemFont(hint.font);
    painter.setFont(hintFont);
    painter.setPen(color(hint.textFill));
    painter.drawText(QPointF(hint.textOrigin.x, hint.textOrigin.y + QFontMetricsF(hintFont).ascent()), QString::fromStdString(hint.text));
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
