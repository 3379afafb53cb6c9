#include "app/ui/QtApplicationWindows.h"

#include <QApplication>
#include <QWidget>

namespace zorvane::ui {

std::vector<ApplicationWindows::Window> QtApplicationWindows::windows()
{
    std::vector<Window> list;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isWindow() || widget->testAttribute(Qt::WA_DontShowOnScreen)) continue;
        Window window;
        // Only windows that exist on the screen have an id; the others cannot be raised yet.
        window.handle = widget->testAttribute(Qt::WA_WState_Created) ? static_cast<std::uint64_t>(widget->winId()) : 0;
        window.title = widget->windowTitle().toStdString();
        window.identifier = widget->objectName().toStdString();
        window.isVisible = widget->isVisible();
        if (window.handle != 0) list.push_back(std::move(window));
    }
    return list;
}

void QtApplicationWindows::orderFrontRegardlessAndMakeKey(std::uint64_t handle)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->testAttribute(Qt::WA_WState_Created) || static_cast<std::uint64_t>(widget->winId()) != handle) continue;
        if (widget->isMinimized()) widget->showNormal();
        widget->show();
        widget->raise();
        widget->activateWindow();
        return;
    }
}

} // namespace zorvane::ui
