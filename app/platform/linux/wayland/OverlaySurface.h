#pragma once

#include "app/platform/OverlayPanels.h"

#include <QImage>
#include <QWidget>

class QLabel;

namespace zorvane {

// One screen's overlay on Wayland: a frameless full-screen window on its own output. It shows the
// desktop as it was captured under the veil, the highlight and the hint while the user selects;
// a refusal to capture over the live desktop (any click or Escape closes it); and, once the
// selection is made, the same frozen frame as the backdrop the chat panel opens inside.
class OverlaySurface final : public QWidget {
public:
    enum class Mode { selecting, refused, backdrop };

    OverlaySurface(QScreen* screen, Rect quartzBounds, OverlayPanelHandlers handlers);

    // Shows it on its screen, full screen, with what was captured or why nothing was.
    void showFrame(QImage picture, QRectF source);
    void showRefusal(const std::string& message);
    void setHighlight(const std::optional<Rect>& highlight, const std::string& label);
    // After this it reports nothing; it stays on the screen as the chat panel's backdrop, and a
    // click on it (outside the panel) calls `dismissed`.
    void becomeBackdrop(std::function<void()> dismissed);
    void stopReporting() { reporting_ = false; }

    Mode mode() const { return mode_; }
    const Rect& quartzBounds() const { return quartzBounds_; }
    QScreen* targetScreen() const { return screen_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void place();
    Point quartzPoint(QPointF local) const;
    void report(const std::function<void(Point)>& handler, QPointF local);

    QScreen* screen_;
    Rect quartzBounds_;
    OverlayPanelHandlers handlers_;
    QImage frame_; // the snapshot's picture, shared; this screen is `source_` of it
    QRectF source_;
    Mode mode_ = Mode::selecting;
    QLabel* message_ = nullptr;
    std::function<void()> dismissed_;
    std::optional<Rect> highlight_;
    std::string label_;
    bool reporting_ = true;
    bool pressed_ = false;
};

} // namespace zorvane
