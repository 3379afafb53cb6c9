#include "app/platform/linux/x11/X11OverlayPanels.h"

#include "app/selection/SelectionCanvasLayout.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace zorvane {

namespace {

namespace Layout = SelectionCanvasLayout;

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

QFont systemFont(const Layout::Font& spec)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(static_cast<int>(spec.size));
    font.setWeight(spec.weight == Layout::FontWeight::semibold ? QFont::DemiBold : QFont::Medium);
    return font;
}

QRectF toQt(const Rect& r)
{
    return QRectF(r.minX(), r.minY(), r.width(), r.height());
}

// The Qt screen showing the same part of the desktop as the description: Qt places its screens
// in the same points, relative to its primary screen.
QScreen* matchingScreen(const ScreenDescription& screen)
{
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return nullptr;
    const QPointF origin = primary->geometry().topLeft();
    const QRectF wanted = toQt(screen.quartzBounds);
    QScreen* best = nullptr;
    double bestArea = 0;
    for (QScreen* candidate : QGuiApplication::screens()) {
        const QRectF bounds = QRectF(candidate->geometry()).translated(-origin);
        const QRectF overlap = bounds.intersected(wanted);
        const double area = overlap.isValid() ? overlap.width() * overlap.height() : 0;
        if (area > bestArea) {
            best = candidate;
            bestArea = area;
        }
    }
    return best;
}

class OverlayCanvas final : public QWidget {
public:
    OverlayCanvas(OverlayPanelHandlers handlers, std::shared_ptr<EventMonitors> eventMonitors, QImage frozenFrame)
        : QWidget(nullptr,
              Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint | Qt::Tool
                  | Qt::WindowDoesNotAcceptFocus),
          handlers_(std::move(handlers)),
          eventMonitors_(std::move(eventMonitors)),
          frozenFrame_(std::move(frozenFrame))
    {
        setObjectName(QStringLiteral("selectionOverlayPanel"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        if (frozenFrame_.isNull()) {
            setAttribute(Qt::WA_TranslucentBackground);
        } else {
            setAttribute(Qt::WA_OpaquePaintEvent);
            setAttribute(Qt::WA_NoSystemBackground);
        }
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(true);
        setCursor(Qt::CrossCursor);
    }

    void setHighlight(const std::optional<Rect>& highlight, const std::string& label)
    {
        highlight_ = highlight;
        label_ = label;
        update();
    }

    // After this the panel reports nothing, whatever Qt still delivers to it.
    void stopReporting() { reporting_ = false; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (frozenFrame_.isNull()) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(rect(), Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else {
            painter.drawImage(QRectF(rect()), frozenFrame_);
        }

        const QColor accent = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
        const auto color = [&accent](const Layout::Fill& fill) {
            QColor c = fill.paint == Layout::Paint::accent ? accent
                : fill.paint == Layout::Paint::white       ? QColor(Qt::white)
                                                           : QColor(Qt::black);
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
        painter.fillRect(toQt(drawing.veil), color(drawing.veilFill));

        if (const auto& h = drawing.highlight) {
            const QPainterPath outline = rounded(h->outline);
            painter.fillPath(outline, color(h->fill));
            painter.strokePath(outline, QPen(color(h->stroke), h->lineWidth));
            painter.fillPath(rounded(h->labelPill), color(h->labelPillFill));
            const QFont font = systemFont(h->labelFont);
            const QRectF textRect = toQt(h->labelTextRect);
            painter.setFont(font);
            painter.setPen(color(h->labelTextFill));
            const QString text = QFontMetricsF(font).elidedText(QString::fromStdString(h->labelText), Qt::ElideRight, textRect.width());
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
        }

        const Layout::Hint& hint = drawing.hint;
        painter.fillPath(rounded(hint.pill), color(hint.fill));
        const QFont hintFont = systemFont(hint.font);
        painter.setFont(hintFont);
        painter.setPen(color(hint.textFill));
        // The origin is the top-left corner of the text's line, not its baseline.
        const QFontMetricsF metrics(hintFont);
        painter.drawText(QPointF(hint.textOrigin.x, hint.textOrigin.y + metrics.ascent()), QString::fromStdString(hint.text));
    }

    void enterEvent(QEnterEvent*) override { report(handlers_.onMove); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        report(pressed_ && (event->buttons() & Qt::LeftButton) ? handlers_.onDrag : handlers_.onMove);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) return;
        pressed_ = true;
        report(handlers_.onMouseDown);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || !pressed_) return;
        pressed_ = false;
        report(handlers_.onMouseUp);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape && reporting_ && handlers_.onCancel) {
            handlers_.onCancel();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    // The pointer's location now, not the one the event carried.
    void report(const std::function<void(Point)>& handler)
    {
        if (!reporting_ || !handler) return;
        handler(eventMonitors_->currentPointerLocation());
    }

    OverlayPanelHandlers handlers_;
    std::shared_ptr<EventMonitors> eventMonitors_;
    QImage frozenFrame_;
    std::optional<Rect> highlight_;
    std::string label_ {Layout::defaultLabel};
    bool reporting_ = true;
    bool pressed_ = false;
};

class X11OverlayPanel final : public OverlayPanel {
public:
    explicit X11OverlayPanel(OverlayCanvas* canvas) : canvas_(canvas) {}
    ~X11OverlayPanel() override { orderOut(); }

    void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
    {
        if (canvas_) canvas_->setHighlight(highlightRect, label);
    }

    void orderOut() override
    {
        if (!canvas_) return;
        canvas_->stopReporting();
        canvas_->hide();
        // The panel may be released from inside one of its own event handlers.
        canvas_->deleteLater();
        canvas_ = nullptr;
    }

private:
    QPointer<OverlayCanvas> canvas_;
};

QImage frozenFrameOf(WindowImages& windowImages, const Rect& quartzBounds)
{
    auto image = windowImages.compositeImage(quartzBounds, std::nullopt);
    if (!image || image->width == 0 || image->height == 0) return {};
    QImage frame(image->pixels.data(), int(image->width), int(image->height), qsizetype(image->stride), QImage::Format_RGB32);
    QImage copy = frame.copy(); // the pixels go away with `image`
    copy.setDevicePixelRatio(image->scale > 0 ? image->scale : 1);
    return copy;
}

} // namespace

X11OverlayPanels::X11OverlayPanels(std::shared_ptr<EventMonitors> eventMonitors, std::shared_ptr<WindowImages> windowImages)
    : eventMonitors_(std::move(eventMonitors)), windowImages_(std::move(windowImages))
{
}

X11OverlayPanels::~X11OverlayPanels() = default;

std::unique_ptr<OverlayPanel> X11OverlayPanels::showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers)
{
    QScreen* qscreen = matchingScreen(screen);
    // Without a compositor translucent pixels show black: paint what the screen showed instead.
    QImage frozen;
    if (!compositorRunning()) {
        if (windowImages_) frozen = frozenFrameOf(*windowImages_, screen.quartzBounds);
        // Slower, but a black screen would be worse.
        if (frozen.isNull() && qscreen) frozen = qscreen->grabWindow(0).toImage();
    }

    auto* canvas = new OverlayCanvas(std::move(handlers), eventMonitors_, std::move(frozen));
    if (qscreen) {
        canvas->setScreen(qscreen);
        canvas->setGeometry(qscreen->geometry());
    } else if (QScreen* primary = QGuiApplication::primaryScreen()) {
        const Rect& b = screen.quartzBounds;
        canvas->setGeometry(QRectF(primary->geometry().topLeft() + QPointF(b.minX(), b.minY()), QSizeF(b.width(), b.height())).toRect());
    }
    canvas->show();
    canvas->raise();
    windows_.push_back(canvas->winId());
    return std::make_unique<X11OverlayPanel>(canvas);
}

bool X11OverlayPanels::anyPanelOnScreen()
{
    xcb_connection_t* connection = qtConnection();
    if (!connection) return false;
    bool any = false;
    std::erase_if(windows_, [&](unsigned long window) {
        xcb_generic_error_t* error = nullptr;
        auto* attributes = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, xcb_window_t(window)), &error);
        std::free(error);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        any = any || viewable;
        return !viewable;
    });
    return any;
}

bool X11OverlayPanels::compositorRunning()
{
    xcb_connection_t* connection = qtConnection();
    if (!connection) return false;
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen)) std::free(host);
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    auto* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::uint16_t(name.size()), name.c_str()), nullptr);
    const xcb_atom_t selection = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(atom);
    if (selection == xcb_atom_t(XCB_ATOM_NONE)) return false; // nobody ever claimed it
    auto* owner = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

} // namespace zorvane
