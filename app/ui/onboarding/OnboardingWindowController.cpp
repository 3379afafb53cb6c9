#include "app/ui/onboarding/OnboardingWindowController.h"

#include "app/ui/WindowSurface.h"
#include "app/ui/onboarding/OnboardingView.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zorvane::ui {

OnboardingWindowController::~OnboardingWindowController() { delete window_; }

void OnboardingWindowController::show(AppModel& model)
{
    if (!window_) {
        // The window manager draws the title bar; only the close button is asked for.
        window_ = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
        window_->setObjectName(QStringLiteral("onboardingWindow"));
        window_->setWindowTitle(QStringLiteral("Primeros pasos con Zorvane"));
        window_->setFixedSize(720, 540);
        view_ = new OnboardingView(model.shared_from_this(), [this] { hide(); });
        WindowSurface::wrap(window_, view_, 0);
    }
    if (const QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void OnboardingWindowController::hide()
{
    if (window_) window_->hide();
}

} // namespace zorvane::ui
