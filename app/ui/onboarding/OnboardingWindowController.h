#pragma once

#include "app/platform/ChatPanelController.h"

#include <QObject>

#include <memory>

class QWidget;

namespace zorvane::ui {

class OnboardingView;

// The "Primeros pasos con Zorvane" window: made on the first show and kept for the life of the
// process, so closing and reopening it comes back on the same step. Closing it stores nothing.
// The model owns this controller, so its view holds the model weakly.
class OnboardingWindowController final : public zorvane::OnboardingWindowController {
public:
    OnboardingWindowController() = default;
    ~OnboardingWindowController() override;

    // Centres the window, shows it above other applications and gives it the keyboard.
    void show(AppModel& model) override;
    // Orders the window out (after the onboarding was finished).
    void hide();

    QWidget* window() const { return window_; }
    OnboardingView* view() const { return view_; }

private:
    QWidget* window_ = nullptr;
    OnboardingView* view_ = nullptr;
};

} // namespace zorvane::ui
