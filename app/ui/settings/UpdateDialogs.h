#pragma once

#include "app/platform/linux/desktop/LinuxUpdater.h"

#include <QMessageBox>
#include <QPointer>

class QMessageBox;

namespace zorvane::ui {

// What the updater tells the user, as small dialogs that do not block the program: "up to date",
// "a new version, install it?", "installed, restart now?" and why an update failed. A dialog closed
// without a choice counts as "Más tarde".
class UpdateDialogs final : public linux_platform::UpdateUserDriver {
public:
    ~UpdateDialogs() override;

    void showUpToDate(const std::string& installedVersion) override;
    void showUpdateFound(
        const std::string& newVersion, const std::string& installedVersion, std::function<void(bool install)> reply) override;
    void showReadyToRestart(const std::string& newVersion, std::function<void(bool restartNow)> reply) override;
    void showFailure(const std::string& message) override;

    // The dialog on screen, if any (tests).
    QMessageBox* current() const { return current_; }

private:
    void present(const QString& title, const QString& text, const QString& accept, const QString& decline,
        std::function<void(bool)> reply);

    QPointer<QMessageBox> current_;
};

} // namespace zorvane::ui
