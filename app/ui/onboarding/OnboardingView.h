#pragma once

#include "app/model/AppModel.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;
class QVariantAnimation;

namespace zorvane::ui {

class ChangeWatcher;
class SegmentedControl;

// A permission of the first run: its own symbol, the title and detail, and at the trailing end
// "Concedido" with a green check once granted, else "Permitir".
class OnboardingPermissionRow : public QWidget {
    Q_OBJECT
public:
    OnboardingPermissionRow(const char* symbol, const QString& title, const QString& detail, std::function<void()> action,
        QWidget* parent = nullptr);
    void setGranted(bool granted);
    bool isGranted() const { return isGranted_; }

private:
    QWidget* granted_;
    QLabel* grantedSymbol_;
    QLabel* grantedText_;
    QPushButton* allow_;
    bool isGranted_ = false;
};

// The capsules of the header: the current step wide, steps done in the accent colour; width and
// colour move with an animation.
class StepIndicator : public QWidget {
    Q_OBJECT
public:
    StepIndicator(int count, QWidget* parent = nullptr);
    void setStep(int step);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int count_;
    double position_ = 0;
    QVariantAnimation* animation_;
};

// The four steps of the first run: what Zorvane does, the two permissions, the browser, the answer
// mode. The step is kept while the window is closed and reopened. `finish` runs after
// "Usar Zorvane" stored the completed version.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int stepCount = 4;

    OnboardingView(std::shared_ptr<AppModel> model, std::function<void()> finish, QWidget* parent = nullptr);
    ~OnboardingView() override;
    int step() const { return step_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeWelcome();
    QWidget* makePermissions();
    QWidget* makeBrowser();
    QWidget* makeReady();
    QWidget* makeFooter();
    void setStep(int step);
    void sync();
    void restyle();

    std::weak_ptr<AppModel> model_; // weakly: the model owns the window that shows this view
    std::function<void()> finish_;
    int step_ = 0;
    ChangeWatcher* watcher_ = nullptr;
    QStackedWidget* steps_ = nullptr;
    StepIndicator* indicator_ = nullptr;
    QLabel* headerSymbol_ = nullptr;
    QLabel* welcomeSymbol_ = nullptr;
    QLabel* permissionsSymbol_ = nullptr;
    QLabel* footnoteSymbol_ = nullptr;
    OnboardingPermissionRow* accessibility_ = nullptr;
    OnboardingPermissionRow* screenRecording_ = nullptr;
    QLabel* browserSymbol_ = nullptr;
    QLabel* browserTitle_ = nullptr;
    QLabel* browserText_ = nullptr;
    QPushButton* setUpBrowser_ = nullptr;
    QLabel* setUpCaption_ = nullptr;
    QLabel* readySymbol_ = nullptr;
    QVariantAnimation* readyBounce_ = nullptr;
    QLabel* hintSymbol_ = nullptr;
    SegmentedControl* mode_ = nullptr;
    QLabel* modeDescription_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* primary_ = nullptr;
};

} // namespace zorvane::ui
