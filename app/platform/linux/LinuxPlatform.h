#pragma once

#include "app/model/AppModel.h"

#include <functional>
#include <memory>

namespace zorvane {

namespace ui {
class QtChatPanelController;
}
class PortalGlobalShortcut;

struct LinuxPlatformOptions {
    bool uiTest = false; // "--ui-test": our windows appear in the task bar
    std::shared_ptr<MainQueue> mainQueue;
};

// The one factory that builds every adapter of the program, once, after the QApplication exists.
class LinuxPlatform {
public:
    explicit LinuxPlatform(LinuxPlatformOptions options);
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    // Everything the model needs.
    const AppPlatform& appPlatform() const { return platform_; }
    const std::shared_ptr<ui::QtChatPanelController>& chatPanel() const { return chatPanel_; }
    // Shows the settings window (the menu's "Ajustes" runs it before bringSettingsToFront).
    const std::function<void(AppModel&)>& openSettings() const { return openSettings_; }
    // The desktop's own global shortcut for the selection, where it has one to register (KDE on
    // Wayland): `select` runs when the user presses it.
    void startSelectionShortcut(std::function<void()> select);

private:
    AppPlatform platform_;
    std::shared_ptr<ui::QtChatPanelController> chatPanel_;
    std::function<void(AppModel&)> openSettings_;
    std::unique_ptr<PortalGlobalShortcut> selectionShortcut_;
};

} // namespace zorvane
