#pragma once

#include "app/model/AppModel.h"
#include "app/ui/settings/SettingsForm.h"

#include <memory>

namespace zorvane::ui {

class DownloadProgressBar;

// The Voz tab's "Modelo de voz": which engine and model dictation uses now, and the user's
// language's model one click away — download it (with its progress, and a cancel), resume an
// interrupted download, or delete it. A model unpacked by hand shows here as well.
class SpeechModelSection : public FormSection {
    Q_OBJECT
public:
    // `models` is the model's SpeechModels (not none).
    SpeechModelSection(const std::shared_ptr<AppModel>& model, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum class Action { none, download, cancel, remove, openFolder };
    void sync();
    void perform();

    std::weak_ptr<AppModel> model_; // views hold the model weakly
    std::shared_ptr<SpeechModels> models_;
    ChangeWatcher* watcher_ = nullptr;
    QLabel* engineSymbol_ = nullptr;
    QLabel* engine_ = nullptr;
    QLabel* modelTitle_ = nullptr;
    QLabel* modelDetail_ = nullptr;
    QLabel* failure_ = nullptr;
    DownloadProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* footer_ = nullptr;
    Action action_ = Action::none;
    SpeechModels::Phase lastPhase_ = SpeechModels::Phase::absent;
};

} // namespace zorvane::ui
