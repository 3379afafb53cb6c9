#pragma once

#include <QIcon>
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;

namespace zorvane {
class AppModel;
}

namespace zorvane::ui {

class MenuWindow;

// The icon in the desktop's tray. A click opens the menu window beside it; trays that only show
// menus (StatusNotifier and AppIndicator hosts, or a right click) get a native menu with the same
// actions. Without any tray the program runs on (shake, `Zorvane --select`, a second launch).
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(AppModel& model, MenuWindow& menuWindow, std::function<void()> openSettings, std::function<void()> quit,
             const std::filesystem::path& resourcesPath);
    ~TrayIcon() override;

    // Shows the icon if the desktop has a tray now, and again whenever one appears.
    void show();

    // The mark from the resources, tinted for the current appearance; a theme symbol without it.
    static QIcon makeIcon(const std::filesystem::path& resourcesPath);

    QMenu* nativeMenu() const { return menu_.get(); }

private:
    void refreshMenu();

    std::weak_ptr<AppModel> model_;
    MenuWindow& menuWindow_;
    std::filesystem::path resourcesPath_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    QAction* selectAction_ = nullptr;
    QAction* activationAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QActionGroup* modes_ = nullptr;
};

} // namespace zorvane::ui
