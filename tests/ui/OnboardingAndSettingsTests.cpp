// The onboarding and settings windows over the real model, found by object name as a user would
// find them by sight.
#include "UiHarness.h"

#include "app/core/Defaults.h"
#include "app/ui/onboarding/OnboardingView.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "app/ui/settings/SettingsForm.h"
#include "app/ui/settings/SettingsView.h"
#include "app/ui/settings/UpdateDialogs.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

namespace zorvane::testing {
namespace {

using namespace ui;

class WindowsTest : public UiTest {
protected:
    // Lets Qt's event loop, and the model's tasks on it, run for a moment.
    void pump() { waitFor([] { return false; }, 0.05); }
};

// The first run from the welcome to "Usar Zorvane", as a new user goes through it.
TEST_F(WindowsTest, OnboardingWalksFromWelcomeToFinishAndClosingStoresNothing)
{
    permissions->accessibility = false;
    permissions->screenRecording = false;
    startedModel();
    ui::OnboardingWindowController controller;
    controller.show(*model);
    pump();
    QWidget* window = controller.window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Primeros pasos con Zorvane"));
    EXPECT_EQ(window->size(), QSize(720, 540));
    auto* steps = find<QStackedWidget>(window, "onboardingSteps");
    auto* primary = find<QPushButton>(window, "primaryButton");
    EXPECT_EQ(steps->currentWidget()->objectName(), QStringLiteral("welcomeStep"));
    EXPECT_EQ(primary->text(), QStringLiteral("Empezar"));
    EXPECT_FALSE(shown(find(window, "backButton")));
    keepScreenshot(window, "onboarding-0");

    primary->click();
    auto* accessibilityRow = find<OnboardingPermissionRow>(window, "accessibilityRow");
    EXPECT_EQ(steps->currentWidget()->objectName(), QStringLiteral("permissionsStep"));
    EXPECT_EQ(primary->text(), QStringLiteral("Continuar"));
    EXPECT_TRUE(shown(find(window, "backButton")));
    EXPECT_TRUE(shown(find(accessibilityRow, "allowButton")));
    // Granted in the system's settings; coming back to Zorvane turns the row green, no click needed.
    permissions->accessibility = true;
    QMetaObject::invokeMethod(qGuiApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
    EXPECT_TRUE(waitFor([&] { return accessibilityRow->isGranted(); })) << "the permissions are read on another thread";
    EXPECT_TRUE(shown(find(accessibilityRow, "grantedLabel")));
    EXPECT_EQ(find<QLabel>(accessibilityRow, "grantedText")->text(), QStringLiteral("Concedido"));
    EXPECT_FALSE(shown(find(accessibilityRow, "allowButton")));
    EXPECT_FALSE(find<OnboardingPermissionRow>(window, "screenRecordingRow")->isGranted());
    keepScreenshot(window, "onboarding-1");

    primary->click();
    auto* browserTitle = find<QLabel>(window, "browserTitle");
    EXPECT_EQ(browserTitle->text(), QStringLiteral("Conecta tu navegador"));
    EXPECT_TRUE(shown(find(window, "setUpBrowserButton")));
    keepScreenshot(window, "onboarding-2");
    auto host = connectHost();
    pump();
    EXPECT_EQ(browserTitle->text(), QStringLiteral("Navegador conectado"));
    EXPECT_FALSE(shown(find(window, "setUpBrowserButton")));

    primary->click();
    EXPECT_EQ(primary->text(), QStringLiteral("Usar Zorvane"));
    auto* description = find<QLabel>(window, "modeDescription");
    EXPECT_EQ(description->text(), QStringLiteral("Prioriza la menor latencia con respuestas concisas."));
    keepScreenshot(window, "onboarding-3");
    find<QPushButton>(window, "segment:thinking")->click();
    pump();
    EXPECT_EQ(defaults->stringForKey(Defaults::aiResponseMode), "thinking");
    EXPECT_EQ(description->text(), QStringLiteral("Dedica más razonamiento a preguntas complejas."));

    // Closing with the close button keeps nothing but the step.
    window->close();
    EXPECT_EQ(defaults->integerForKey(Defaults::onboardingVersion), 0);
    controller.show(*model);
    pump();
    EXPECT_EQ(controller.window(), window);
    EXPECT_EQ(primary->text(), QStringLiteral("Usar Zorvane"));
    primary->click();
    EXPECT_EQ(defaults->integerForKey(Defaults::onboardingVersion), 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowsTest, SettingsShowTheRealStateOfEverySetting)
{
    codexSandbox.installFakeCodex("echo 'logged in using chatgpt' >&2", "true");
    startedModel();
    ui::SettingsWindowController settings(onboarding);
    settings.show(*model);
    pump();
    QWidget* window = settings.window();
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Ajustes")));
    EXPECT_EQ(window->size(), QSize(620, 460));
    for (int tab = 0; tab < 5; ++tab) {
        settings.show(*model, tab);
        keepScreenshot(window, "settings-" + std::to_string(tab));
    }
    settings.show(*model, 0);

    // The sensitivity caption and slider follow the stored threshold, and the slider stores it.
    for (const auto& [value, caption, slider] : {std::tuple {3000.0, "0% · Baja", 0}, {2200.0, "30% · Baja", 6},
             {2120.0, "34% · Equilibrada", 7}, {1440.0, "68% · Alta", 14}, {500.0, "100% · Alta", 20}}) {
        defaults->setDouble(Defaults::motionThreshold, value);
        EXPECT_TRUE(waitFor([&] { return find<QLabel>(window, "sensitivityCaption")->text() == QString::fromUtf8(caption); })) << value;
        EXPECT_EQ(find<QSlider>(window, "sensitivitySlider")->value(), slider) << value;
    }
    find<QSlider>(window, "sensitivitySlider")->triggerAction(QAbstractSlider::SliderPageStepSub);
    pump();
    EXPECT_DOUBLE_EQ(defaults->doubleForKey(Defaults::motionThreshold), 1000.0);

    // Start at login refused by the system: the toggle stays off and says why.
    loginItem->failNextCall = true;
    auto* launchAtLogin = find<QAbstractButton>(window, "launchAtLoginToggle");
    launchAtLogin->click();
    pump();
    EXPECT_FALSE(launchAtLogin->isChecked());
    EXPECT_TRUE(QString::fromStdString(model->lastError().value_or(""))
                    .startsWith(QStringLiteral("No se pudo cambiar el inicio automático: Operación no permitida")));
    EXPECT_EQ(find<QLabel>(window, "launchAtLoginError")->text().toStdString(), model->lastError());
    launchAtLogin->click();
    pump();
    EXPECT_TRUE(launchAtLogin->isChecked());
    EXPECT_FALSE(shown(find(window, "launchAtLoginError")));

    // A build without a feed and key: no update control can be used, and the caption says so.
    for (const char* control : {"automaticChecksToggle", "automaticDownloadsToggle", "checkNowButton"})
        EXPECT_FALSE(find(window, control)->isEnabled()) << control;
    EXPECT_EQ(find<QLabel>(window, "updateCaption")->text(),
        QStringLiteral("Las actualizaciones se configurarán al crear el build de distribución."));
    const int onboardingShows = onboarding->showCount;
    find<QPushButton>(window, "openOnboardingButton")->click();
    EXPECT_EQ(onboarding->showCount, onboardingShows + 1);

    // A signed-in status written in lower case still earns the green seal.
    settings.show(*model, 4);
    pump();
    EXPECT_EQ(find<QLabel>(window, "codexStatus")->text(), QString::fromStdString(model->codexStatus()));
    auto* seal = find<QLabel>(window, "codexSymbol");
    EXPECT_EQ(seal->pixmap().toImage(),
        Symbols::pixmap("checkmark.seal.fill", Theme::shared().colors().green, 18, seal->devicePixelRatioF()).toImage());
}

// An update's question: accepting says yes; closing it, or a newer question replacing it, says later.
TEST_F(WindowsTest, UpdateDialogsCountClosingAsLater)
{
    UpdateDialogs dialogs;
    std::map<std::string, bool> answers;
    const auto answer = [&](const char* question) { return [&answers, question](bool yes) { answers[question] = yes; }; };
    dialogs.showUpdateFound("1.2.0", "1.1.0", answer("install"));
    keepScreenshot(dialogs.current(), "update-found");
    dialogs.current()->close();
    dialogs.showReadyToRestart("1.2.0", answer("replaced"));
    dialogs.showReadyToRestart("1.2.0", answer("restart"));
    EXPECT_EQ(dialogs.current()->text(), QStringLiteral("Zorvane 1.2.0 está instalado"));
    find<QPushButton>(dialogs.current(), "acceptButton")->click();
    EXPECT_TRUE(waitFor([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers, (std::map<std::string, bool> {{"install", false}, {"replaced", false}, {"restart", true}}));

    // The feed's words are shown as they are, never as markup with links.
    dialogs.showFailure("<a href=\"https://example.org\">firma</a> no válida");
    for (QLabel* label : dialogs.current()->findChildren<QLabel*>()) {
        EXPECT_TRUE(label->text().isEmpty() || label->textFormat() == Qt::PlainText) << label->text().toStdString();
    }
}

} // namespace
} // namespace zorvane::testing
