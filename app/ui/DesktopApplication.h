#pragma once

#include "app/ui/SingleInstance.h"

#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>

namespace zorvane {
class AppModel;
}

namespace zorvane::ui {

class MenuWindow;
class TrayIcon;

// The program's presence on the desktop: the tray icon, the menu window, and the requests of
// later launches. It starts the model once the event loop runs. It holds the model weakly, as
// every window does: the program that made both decides when the model goes.
class DesktopApplication : public QObject {
    Q_OBJECT
public:
    DesktopApplication(std::shared_ptr<AppModel> model, std::function<void(AppModel&)> openSettings,
                       const std::filesystem::path& resourcesPath);
    ~DesktopApplication() override;

    // Shows the tray icon, starts the model on the event loop's first turn, then runs `first`,
    // the request this launch was made with (a plain launch, showMenu, only starts).
    void startOnEventLoop(SingleInstance::Request first);
    // A request of this launch or of a later one.
    void handle(SingleInstance::Request request);

    MenuWindow& menuWindow() const { return *menuWindow_; }
    TrayIcon& trayIcon() const { return *trayIcon_; }

private:
    std::weak_ptr<AppModel> model_;
    std::function<void()> openSettings_;
    std::unique_ptr<MenuWindow> menuWindow_;
    std::unique_ptr<TrayIcon> trayIcon_;
};

} // namespace zorvane::ui
