#include "app/ui/WindowSurface.h"

#include "app/ui/Theme.h"

#include <QBitmap>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

// Xlib after Qt: its macros (None, Bool, Status) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zorvane::ui {
namespace {

Display* x11Display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

QPainterPath outline(const QRectF& rect, double radius)
{
    QPainterPath path;
    if (radius <= 0) {
        path.addRect(rect);
    } else {
        path.addRoundedRect(rect, radius, radius);
    }
    return path;
}

} // namespace

WindowSurface* WindowSurface::wrap(QWidget* window, QWidget* content, double cornerRadius, bool hideGlassEdge)
{
    // An ARGB visual from the start; the surface decides on each show whether to use its alpha.
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_NoSystemBackground);
    auto* surface = new WindowSurface(window, cornerRadius, hideGlassEdge);
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(surface);
    auto* inner = new QVBoxLayout(surface);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(0);
    inner->addWidget(content);
    window->installEventFilter(surface);
    connect(&Theme::shared(), &Theme::changed, surface, qOverload<>(&QWidget::update));
    return surface;
}

WindowSurface::WindowSurface(QWidget* window, double cornerRadius, bool hideGlassEdge)
    : QWidget(window), cornerRadius_(cornerRadius), hideGlassEdge_(hideGlassEdge)
{
    setObjectName(QStringLiteral("windowSurface"));
    setAttribute(Qt::WA_StyledBackground, false);
}

bool WindowSurface::compositorRunning()
{
    Display* display = x11Display();
    if (!display) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, selection) != 0;
}

bool WindowSurface::eventFilter(QObject* watched, QEvent* event)
{
    // The compositor may have started or stopped since the window was last shown.
    if (watched == window() && event->type() == QEvent::Show) updateShape();
    return QWidget::eventFilter(watched, event);
}

void WindowSurface::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateShape();
}

void WindowSurface::updateShape()
{
    QWidget* top = window();
    translucent_ = compositorRunning();
    if (translucent_) {
        top->clearMask();
    } else if (cornerRadius_ > 0) {
        // Shaped to the outline: the rounded corners show what is behind, not black.
        QBitmap mask(top->size());
        mask.fill(Qt::color0);
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::color1);
        painter.drawPath(outline(QRectF(QPointF(0, 0), QSizeF(top->size())), cornerRadius_));
        painter.end();
        top->setMask(mask);
    }
    setBlurBehind(translucent_);
    update();
}

void WindowSurface::setBlurBehind(bool enabled)
{
    Display* display = x11Display();
    QWidget* top = window();
    if (!display || !top->testAttribute(Qt::WA_WState_Created)) return;
    const Window id = static_cast<Window>(top->winId());
    const Atom blur = XInternAtom(display, "_KDE_NET_WM_BLUR_BEHIND_REGION", False);
    if (enabled) {
        // An empty region asks for blur behind the whole window; the rounded corners stay clear
        // because they are painted transparent.
        XChangeProperty(display, id, blur, XA_CARDINAL, 32, PropModeReplace, nullptr, 0);
    } else {
        XDeleteProperty(display, id, blur);
    }
    XFlush(display);
}

void WindowSurface::paintEvent(QPaintEvent*)
{
    const ThemeColors& colors = Theme::shared().colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QColor fill = colors.surface;
    if (translucent_) fill.setAlpha(Theme::shared().isDark() ? 232 : 236);
    // The outline's hairline sits on the pixel centres; without it the fill reaches the edge.
    const QRectF bounds = hideGlassEdge_ ? QRectF(rect()) : QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (hideGlassEdge_) {
        painter.setPen(Qt::NoPen);
    } else {
        painter.setPen(QPen(colors.surfaceBorder, 1));
    }
    painter.setBrush(fill);
    painter.drawPath(outline(bounds, cornerRadius_));
}

} // namespace zorvane::ui
