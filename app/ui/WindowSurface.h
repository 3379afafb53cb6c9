#pragma once

#include <QWidget>

namespace zorvane::ui {

// The background of our frameless windows: a rounded surface that holds the content edge to edge.
// Where a compositor runs it is translucent (and asks KWin for blur behind it); without one it is
// opaque and the window is shaped to the rounded outline, so no black corners show. Colours come
// from the Theme and follow light and dark.
//
// Use: `auto* surface = WindowSurface::wrap(window, content, 14);` — the window must be a top-level
// widget without a layout; the content's own background should stay transparent. With
// `hideGlassEdge` the surface draws no outline of its own (the chat panel).
class WindowSurface : public QWidget {
    Q_OBJECT
public:
    static WindowSurface* wrap(QWidget* window, QWidget* content, double cornerRadius, bool hideGlassEdge = false);

    double cornerRadius() const { return cornerRadius_; }
    // Whether the surface was translucent when the window was last shown or resized.
    bool isTranslucent() const { return translucent_; }

    // Whether a compositing manager runs on the default screen now (false off X11).
    static bool compositorRunning();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowSurface(QWidget* window, double cornerRadius, bool hideGlassEdge);
    void updateShape();
    void setBlurBehind(bool enabled);

    double cornerRadius_;
    bool hideGlassEdge_;
    bool translucent_ = false;
};

} // namespace zorvane::ui
