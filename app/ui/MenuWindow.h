#pragma once

#include "app/ui/MenuBarView.h"

#include <QWidget>

namespace zorvane::ui {

// The frameless popup that holds MenuBarView, with a 14-point rounded surface. It closes when the
// user clicks elsewhere or presses Escape.
class MenuWindow : public QWidget {
    Q_OBJECT
public:
    MenuWindow(AppModel& model, MenuBarView::Actions actions);

    MenuBarView* view() const { return view_; }

    // Opens beside the anchor (the tray icon's geometry), or at the pointer when the anchor is
    // empty; closes it when it is already open.
    void toggleNear(const QRect& anchor);
    void showNear(const QRect& anchor);

    // Where the window goes for an anchor, kept inside the screen's available area.
    static QPoint placement(const QRect& anchor, const QPoint& pointer, const QSize& size, const QRect& screenArea);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    MenuBarView* view_ = nullptr;
};

} // namespace zorvane::ui
