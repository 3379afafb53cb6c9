#include "app/platform/linux/x11/X11OverlayPanels.h"

#include "app/platform/linux/x11/X11KeyboardGrab.h"
#include "app/platform/linux/x11/X11ScreenLock.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/OverlayCanvas.h"
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
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

namespace zorvane {

namespace {

namespace Layout = SelectionCanvasLayout;

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
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
    OverlayCanvas(OverlayPanelHandlers handlers, const Rect& quartzBounds, QImage frozenFrame)
        : QWidget(nullptr,
              Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint | Qt::Tool
                  | Qt::WindowDoesNotAcceptFocus),
          handlers_(std::move(handlers)),
          quartzBounds_(quartzBounds),
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

        linux_platform::paintOverlayCanvas(painter, QSizeF(width(), height()), highlight_, label_);
    }

    void enterEvent(QEnterEvent* event) override { report(handlers_.onMove, event->position()); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        report(pressed_ && (event->buttons() & Qt::LeftButton) ? handlers_.onDrag : handlers_.onMove, event->position());
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) return;
        pressed_ = true;
        report(handlers_.onMouseDown, event->position());
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || !pressed_) return;
        pressed_ = false;
        report(handlers_.onMouseUp, event->position());
    }

private:
    // Where the event happened, in Quartz points: the canvas covers its screen's Quartz bounds (a
    // drag carries on past the edge in the same measure).
    void report(const std::function<void(Point)>& handler, const QPointF& local)
    {
        if (!reporting_ || !handler) return;
        const double sx = width() > 0 ? quartzBounds_.width() / width() : 1;
        const double sy = height() > 0 ? quartzBounds_.height() / height() : 1;
        handler(Point {quartzBounds_.minX() + local.x() * sx, quartzBounds_.minY() + local.y() * sy});
    }

    OverlayPanelHandlers handlers_;
    Rect quartzBounds_;
    QImage frozenFrame_;
    std::optional<Rect> highlight_;
    std::string label_ {Layout::defaultLabel};
    bool reporting_ = true;
    bool pressed_ = false;
};

// When one of our own windows (not a panel) last hid: what it covered is repainted by the
// applications under it shortly after, and the desktop is pictured only then.
class HideWatcher final : public QObject {
public:
    std::chrono::steady_clock::time_point lastHide;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && watched->isWindowType()
            && !watched->objectName().startsWith(QLatin1String("selectionOverlayPanel")))
            lastHide = std::chrono::steady_clock::now();
        return false;
    }
};

// A part of the picture as an image that shares its pixels and keeps the picture alive.
QImage frameOf(const X11WindowImages::SnapshotPart& part)
{
    using Shared = std::shared_ptr<const X11WindowImages::Snapshot>;
    const X11WindowImages::Snapshot& whole = *part.snapshot;
    const uchar* first = whole.pixels + std::size_t(part.pixels.y) * whole.stride + std::size_t(part.pixels.x) * 4;
    QImage frame(first, part.pixels.width, part.pixels.height, qsizetype(whole.stride), QImage::Format_RGB32,
        [](void* kept) { delete static_cast<Shared*>(kept); }, new Shared(part.snapshot));
    frame.setDevicePixelRatio(part.scale > 0 ? part.scale : 1);
    return frame;
}

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

struct X11OverlayPanels::State {
    std::shared_ptr<WindowImages> windowImages;
    std::shared_ptr<X11WindowImages> x11Images; // the same object, when it is X11's
    X11KeyboardGrab keyboard;
    HideWatcher hideWatcher;
    // Every panel window shown and not yet known to be gone from the screen.
    std::vector<unsigned long> windows;
    int shown = 0; // panels not yet ordered out
    bool compositor = false;
    std::optional<std::uint64_t> snapshot; // the picture taken for the panels on the screen
    std::optional<std::uint64_t> keptSnapshot;
    QTimer snapshotExpiry;

    // The first panel of a selection: our windows off the screen, the desktop pictured, the keyboard ours.
    void beginSelection(const OverlayPanelHandlers& handlers)
    {
        compositor = compositorRunning();
        if (x11Images) {
            if (xcb_connection_t* connection = qtConnection()) {
                // Every hide we asked for has reached the server before the picture is taken.
                xcb_flush(connection);
                std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
            }
            const auto allowance = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(repaintAllowance));
            const auto ready = hideWatcher.lastHide + allowance;
            if (const auto now = std::chrono::steady_clock::now(); now < ready) std::this_thread::sleep_for(ready - now);
            snapshot = x11Images->holdSnapshot();
        }
        keyboard.take(handlers.onKeyDown);
    }

    void panelGone()
    {
        if (--shown == 0) keyboard.giveBack();
    }

    QImage frozenFrame(const ScreenDescription& screen, QScreen* qscreen)
    {
        QImage frozen;
        if (x11Images) {
            if (const auto part = x11Images->snapshotPart(screen.quartzBounds)) frozen = frameOf(*part);
        } else if (windowImages) {
            frozen = frozenFrameOf(*windowImages, screen.quartzBounds);
        }
        // Slower, but a black screen would be worse.
        if (frozen.isNull() && qscreen) frozen = qscreen->grabWindow(0).toImage();
        return frozen;
    }
};

namespace {

class X11OverlayPanel final : public OverlayPanel {
public:
    X11OverlayPanel(OverlayCanvas* canvas, std::shared_ptr<X11OverlayPanels::State> state) : canvas_(canvas), state_(std::move(state)) {}
    ~X11OverlayPanel() override { orderOut(); }

    void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
    {
        if (canvas_) canvas_->setHighlight(highlightRect, label);
    }

    void orderOut() override
    {
        if (!shown_) return;
        shown_ = false;
        if (canvas_) {
            canvas_->stopReporting();
            canvas_->hide();
            // The panel may be released from inside one of its own event handlers.
            canvas_->deleteLater();
            canvas_ = nullptr;
        }
        state_->panelGone();
    }

private:
    QPointer<OverlayCanvas> canvas_;
    std::shared_ptr<X11OverlayPanels::State> state_;
    bool shown_ = true;
};

} // namespace

X11OverlayPanels::X11OverlayPanels(std::shared_ptr<WindowImages> windowImages) : state_(std::make_shared<State>())
{
    state_->windowImages = std::move(windowImages);
    state_->x11Images = std::dynamic_pointer_cast<X11WindowImages>(state_->windowImages);
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(&state_->hideWatcher);
    state_->snapshotExpiry.setSingleShot(true);
    QObject::connect(&state_->snapshotExpiry, &QTimer::timeout, [state = state_.get()] {
        if (state->x11Images && state->keptSnapshot) state->x11Images->dropSnapshot(state->keptSnapshot);
        state->keptSnapshot.reset();
    });
}

X11OverlayPanels::~X11OverlayPanels()
{
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(&state_->hideWatcher);
    if (state_->x11Images) state_->x11Images->dropSnapshot();
}

std::unique_ptr<OverlayPanel> X11OverlayPanels::showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers)
{
    State& state = *state_;
    if (state.shown == 0) state.beginSelection(handlers);
    QScreen* qscreen = matchingScreen(screen);
    // Without a compositor translucent pixels show black: paint what the screen showed instead.
    QImage frozen;
    if (!state.compositor) frozen = state.frozenFrame(screen, qscreen);

    auto* canvas = new OverlayCanvas(std::move(handlers), screen.quartzBounds, std::move(frozen));
    if (qscreen) {
        canvas->setScreen(qscreen);
        canvas->setGeometry(qscreen->geometry());
    } else if (QScreen* primary = QGuiApplication::primaryScreen()) {
        const Rect& b = screen.quartzBounds;
        canvas->setGeometry(QRectF(primary->geometry().topLeft() + QPointF(b.minX(), b.minY()), QSizeF(b.width(), b.height())).toRect());
    }
    canvas->show();
    canvas->raise();
    state.windows.push_back(canvas->winId());
    ++state.shown;
    return std::make_unique<X11OverlayPanel>(canvas, state_);
}

bool X11OverlayPanels::anyPanelOnScreen()
{
    xcb_connection_t* connection = qtConnection();
    if (!connection) return false;
    bool any = false;
    std::erase_if(state_->windows, [&](unsigned long window) {
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

bool X11OverlayPanels::screenLocked()
{
    return X11ScreenLock::isLocked();
}

void X11OverlayPanels::overlayClosed(bool captureFollows)
{
    State& state = *state_;
    const auto snapshot = std::exchange(state.snapshot, std::nullopt);
    if (!state.x11Images || !snapshot) return;
    if (!captureFollows) {
        state.x11Images->dropSnapshot(snapshot);
        return;
    }
    // Kept for the capture, which drops it; if none comes, it goes anyway.
    state.keptSnapshot = snapshot;
    state.snapshotExpiry.start(std::chrono::milliseconds(std::lround(snapshotLifetime * 1000)));
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
