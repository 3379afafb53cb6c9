#include "app/ui/DesktopApplication.h"

#include "app/model/AppModel.h"
#include "app/ui/MenuWindow.h"
#include "app/ui/TrayIcon.h"

#include <QApplication>
#include <QTimer>

namespace zorvane::ui {

DesktopApplication::DesktopApplication(std::shared_ptr<AppModel> model, std::function<void(AppModel&)> openSettings,
                                       const std::filesystem::path& resourcesPath)
    : model_(model)
{
    openSettings_ = [weak = model_, openSettings = std::move(openSettings)] {
        auto model = weak.lock();
        if (model && openSettings) openSettings(*model);
    };
    const auto quit = [] { QApplication::quit(); };
    menuWindow_ = std::make_unique<MenuWindow>(*model, MenuBarView::Actions {openSettings_, quit, {}});
    trayIcon_ = std::make_unique<TrayIcon>(*model, *menuWindow_, openSettings_, quit, resourcesPath);
}

DesktopApplication::~DesktopApplication() = default;

void DesktopApplication::startOnEventLoop(SingleInstance::Request first)
{
    // The icon first: it is what tells the user Zorvane runs; the model starts right after.
    trayIcon_->show();
    QTimer::singleShot(0, this, [this, first] {
        if (auto model = model_.lock()) model->start();
        // A plain first launch only starts; `--select` and `--settings` act at once.
        if (first != SingleInstance::Request::showMenu) handle(first);
    });
}

void DesktopApplication::handle(SingleInstance::Request request)
{
    switch (request) {
    case SingleInstance::Request::showMenu: menuWindow_->showNear(QRect()); break;
    case SingleInstance::Request::select:
        if (menuWindow_->isVisible()) menuWindow_->hide();
        if (auto model = model_.lock()) model->handleActivationGesture();
        break;
    case SingleInstance::Request::openSettings:
        openSettings_();
        if (auto model = model_.lock()) model->bringSettingsToFront();
        break;
    }
}

} // namespace zorvane::ui
