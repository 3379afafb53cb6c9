#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace zorvane {
class AppModel;
class UserDefaults;
} // namespace zorvane

namespace zorvane::ui {

class ModelObserver;
class SegmentedControl;
class ToggleSwitch;

// The menu window's content, 320 points wide: the Accessibility notice when it is missing, the
// select/cancel button, the shake switch and the answer mode, the last error, and the footer.
class MenuBarView : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> openSettings; // shows the settings window (before bringSettingsToFront)
        std::function<void()> quit;
        std::function<void()> dismiss;      // closes the menu window
    };

    static constexpr int width = 320;

    MenuBarView(AppModel& model, Actions actions, QWidget* parent = nullptr);
    ~MenuBarView() override;

    void refresh();

private:
    void applyTheme();

    std::weak_ptr<AppModel> model_;
    Actions actions_;
    ModelObserver* observer_ = nullptr;

    QWidget* notice_ = nullptr;
    QLabel* noticeTitle_ = nullptr;
    QLabel* noticeText_ = nullptr;
    QPushButton* selectionButton_ = nullptr;
    QWidget* options_ = nullptr;
    ToggleSwitch* activationToggle_ = nullptr;
    QLabel* activationCaption_ = nullptr;
    QWidget* optionsDivider_ = nullptr;
    SegmentedControl* modePicker_ = nullptr;
    QWidget* errorRow_ = nullptr;
    QLabel* errorIcon_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    bool selecting_ = false;
};

} // namespace zorvane::ui
