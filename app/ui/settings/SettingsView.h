#pragma once

#include "app/model/AppModel.h"

#include <QWidget>

#include <functional>
#include <memory>

class QButtonGroup;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;

namespace zorvane::ui {

class ChangeWatcher;
class PermissionRow;
class SegmentedControl;
class ToggleSwitch;

// The settings: five tabs (General, IA, Voz, Web, Privacidad), each a form of titled sections whose
// controls edit a settings key or call the model or the update service. It keeps no state of its
// own: every value is read again when it is shown and whenever a source changes. The permission
// snapshot and the Codex status are refreshed when it comes on screen, not on activation.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(std::shared_ptr<AppModel> model, std::function<void()> openOnboarding, QWidget* parent = nullptr);
    ~SettingsView() override;

    // Shows the tab at `index` (0 to 4).
    void selectTab(int index);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeGeneralTab();
    QWidget* makeAITab();
    QWidget* makeVoiceTab();
    QWidget* makeWebTab();
    QWidget* makePrivacyTab();
    void sync();
    void restyle();

    std::weak_ptr<AppModel> model_; // weakly: the model owns what shows this view
    std::function<void()> openOnboarding_;
    ChangeWatcher* watcher_ = nullptr;
    QButtonGroup* tabs_ = nullptr;
    QStackedWidget* pages_ = nullptr;

    ToggleSwitch* activation_ = nullptr;
    ToggleSwitch* launchAtLogin_ = nullptr;
    QLabel* launchAtLoginError_ = nullptr;
    QLabel* sensitivityCaption_ = nullptr;
    QSlider* sensitivity_ = nullptr;
    QLabel* installedVersion_ = nullptr;
    ToggleSwitch* automaticChecks_ = nullptr;
    ToggleSwitch* automaticDownloads_ = nullptr;
    QLabel* updateCaption_ = nullptr;
    QPushButton* checkNow_ = nullptr;

    SegmentedControl* mode_ = nullptr;
    QWidget* modeRow_ = nullptr;
    QLabel* modeSymbol_ = nullptr;
    QLabel* modeTitle_ = nullptr;
    QLabel* modeDescription_ = nullptr;

    ToggleSwitch* voice_ = nullptr;
    PermissionRow* microphone_ = nullptr;
    PermissionRow* speechRecognition_ = nullptr;

    QLabel* extensionSymbol_ = nullptr;
    QLabel* extensionTitle_ = nullptr;
    QLabel* extensionDetail_ = nullptr;

    PermissionRow* accessibility_ = nullptr;
    PermissionRow* screenRecording_ = nullptr;
    QLabel* codexSymbol_ = nullptr;
    QLabel* codexStatus_ = nullptr;
};

// The window around the settings: titled "Ajustes de Zorvane" (so it can be found and raised by
// title), made on the first show and kept, shown again where it was.
class SettingsWindowController {
public:
    // "Abrir primeros pasos" shows this onboarding window.
    explicit SettingsWindowController(std::shared_ptr<zorvane::OnboardingWindowController> onboarding);
    ~SettingsWindowController();
    // Shows and raises the window; `tab` selects a tab first when given.
    void show(AppModel& model, int tab = -1);
    QWidget* window() const { return window_; }

private:
    std::shared_ptr<zorvane::OnboardingWindowController> onboarding_;
    QWidget* window_ = nullptr;
    SettingsView* view_ = nullptr;
};

} // namespace zorvane::ui
