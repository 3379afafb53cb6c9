#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QLabel;

namespace zorvane {
class AppModel;
}

namespace zorvane::ui {

class DownloadProgressBar;
class ModelObserver;

// The line under the composer's input row where dictation says why the last attempt did not
// start, with the one action that fixes it (download the language's model, open the sound
// settings, switch dictation on), and how that model's download goes once asked for here. Empty
// and hidden otherwise; the next attempt clears it. It keeps nothing but what it started here.
class DictationMessageLine : public QWidget {
    Q_OBJECT
public:
    explicit DictationMessageLine(AppModel& model, QWidget* parent = nullptr);
    ~DictationMessageLine() override;

    // Draws the current state now (also done after every change of what it watches).
    void refresh();

private:
    enum class Action { none, download, cancelDownload, soundSettings, enableDictation, modelFolder };
    void present(const QString& text, bool isError, Action action, const QString& actionText = {});
    void perform();
    void applyTheme();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusLink();
    void makeRoom();

    std::weak_ptr<AppModel> model_;
    ModelObserver* observer_ = nullptr;
    QLabel* text_ = nullptr; // the reason, and the action as a link after it
    DownloadProgressBar* bar_ = nullptr;
    Action current_ = Action::none;
    // The failure a download started from; once that download has installed the model, the line
    // says so until the next attempt.
    std::optional<std::string> downloadFor_;
    // How much this line grew the panel, and the panel's height it left; given back when it needs less.
    int grown_ = 0;
    int grownTo_ = 0;
};

} // namespace zorvane::ui
