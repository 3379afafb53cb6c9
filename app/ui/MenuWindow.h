#pragma once

#include "app/ui/MenuBarView.h"

#include <QElapsedTimer>
#include <QWidget>

namespace zorvane::ui {

// The frameless window that holds MenuBarView, with a 14-point rounded surface. It closes when it
// loses the keyboard (a click elsewhere) or on Escape. It is an ordinary window, not a popup, so
// screen readers find it and the keyboard moves through it (Tab, arrows, Space and Return).
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
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect screenArea(const QPoint& at) const;

    MenuBarView* view_ = nullptr;
    QRect anchor_;
    QElapsedTimer closedByDeactivation_;
};

} // namespace zorvane::ui
