#include "app/ui/onboarding/OnboardingWindowController.h"

#include "app/ui/Accessibility.h"
#include "app/ui/Language.h"
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
        Accessibility::install();
        Language::install();
        // The window manager draws the title bar; only the close button is asked for.
        window_ = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
        window_->setObjectName(QStringLiteral("onboardingWindow"));
        window_->setWindowTitle(QStringLiteral("Primeros pasos con Zorvane"));
        Accessibility::setRole(window_, QAccessible::Window);
        window_->setFixedSize(720, 540);
        view_ = new OnboardingView(model.shared_from_this(), [this] { hide(); });
        WindowSurface::wrap(window_, view_, 0);
    }
    if (const QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    const bool opening = !window_->isVisible();
    window_->show();
    window_->raise();
    window_->activateWindow();
    // The keyboard starts on the window itself (Return goes on, Tab reaches the controls).
    if (opening) view_->setFocus(Qt::ActiveWindowFocusReason);
}

void OnboardingWindowController::hide()
{
    if (window_) window_->hide();
}

} // namespace zorvane::ui
