// The onboarding and settings windows in-process on Qt's offscreen platform, over the real model
// with a faked platform, found by object name as a user would find them by sight.
#include "app/core/Defaults.h"
#include "app/core/Text.h"
#include "app/ui/QtApplicationWindows.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"
#include "app/ui/onboarding/OnboardingView.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "app/ui/settings/SettingsForm.h"
#include "app/ui/settings/SettingsView.h"
#include "app/ui/settings/UpdateDialogs.h"
#include "model/ModelHarness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <cstdlib>

namespace zorvane::ui {
namespace {

template <typename T = QWidget> T* find(QWidget* root, const char* name)
{
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

bool shown(QWidget* widget) { return widget && widget->isVisibleTo(widget->window()); }

class WindowsTest : public testing::ModelTest {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "ui_windows_integration_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The offscreen platform complains that it cannot raise windows; nothing to act on here.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        [[maybe_unused]] static auto* app = new QApplication(argc, argv); // lives as long as the program
        // The offscreen platform knows no icon folders of its own; the desktop's platform does.
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        Symbols::installIconTheme();
    }
    WindowsTest() { Theme::shared().setOverride(Theme::Scheme::light); }

    // Runs the model's due tasks and Qt's events until both are quiet.
    void pump()
    {
        for (int i = 0; i < 5; ++i) {
            queue->runPending();
            QCoreApplication::processEvents();
        }
    }
    // Light and dark pictures for a person to look at, when ZORVANE_SCREENSHOT_DIR names a folder.
    void screenshot(QWidget* window, const std::string& name)
    {
        const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR");
        if (!folder) return;
        for (const auto scheme : {Theme::Scheme::dark, Theme::Scheme::light}) {
            Theme::shared().setOverride(scheme);
            QElapsedTimer timer; // the step indicator's animation ends
            for (timer.start(); timer.elapsed() < 400;) pump();
            window->grab().save(QString::fromStdString(std::string(folder) + "/" + name
                + (scheme == Theme::Scheme::dark ? "-dark" : "-light") + ".png"));
        }
    }
};

// The first run from the welcome to "Usar Zorvane", as a new user goes through it.
TEST_F(WindowsTest, OnboardingWalksFromWelcomeToFinishAndClosingStoresNothing)
{
    permissions->accessibility = false;
    permissions->screenRecording = false;
    startedModel();
    OnboardingWindowController controller;
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
    screenshot(window, "onboarding-0");

    primary->click();
    auto* accessibilityRow = find<PermissionRow>(window, "accessibilityRow");
    EXPECT_EQ(steps->currentWidget()->objectName(), QStringLiteral("permissionsStep"));
    EXPECT_EQ(primary->text(), QStringLiteral("Continuar"));
    EXPECT_TRUE(shown(find(window, "backButton")));
    EXPECT_TRUE(shown(find(accessibilityRow, "allowButton")));
    screenshot(window, "onboarding-1");
    // Granted in the system's settings; coming back to Zorvane turns the row green, no click needed.
    permissions->accessibility = true;
    QMetaObject::invokeMethod(qGuiApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
    pump();
    EXPECT_TRUE(accessibilityRow->isGranted());
    EXPECT_FALSE(shown(find(accessibilityRow, "allowButton")));
    EXPECT_FALSE(find<PermissionRow>(window, "screenRecordingRow")->isGranted());

    primary->click();
    auto* browserTitle = find<QLabel>(window, "browserTitle");
    EXPECT_EQ(browserTitle->text(), QStringLiteral("Conecta tu navegador"));
    EXPECT_TRUE(shown(find(window, "setUpBrowserButton")));
    screenshot(window, "onboarding-2");
    auto host = connectHost();
    pump();
    EXPECT_EQ(browserTitle->text(), QStringLiteral("Navegador conectado"));
    EXPECT_FALSE(shown(find(window, "setUpBrowserButton")));

    primary->click();
    EXPECT_EQ(primary->text(), QStringLiteral("Usar Zorvane"));
    auto* description = find<QLabel>(window, "modeDescription");
    EXPECT_EQ(description->text(), QStringLiteral("Prioriza la menor latencia con respuestas concisas."));
    screenshot(window, "onboarding-3");
    defaults->setString(Defaults::aiResponseMode, "Thinking");
    pump();
    EXPECT_EQ(description->text(), QString());
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
    SettingsWindowController settings(onboarding);
    settings.show(*model);
    pump();
    QWidget* window = settings.window();
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Ajustes")));
    EXPECT_EQ(window->size(), QSize(620, 460));
    for (int tab = 0; tab < 5; ++tab) {
        settings.show(*model, tab);
        screenshot(window, "settings-" + std::to_string(tab));
    }
    settings.show(*model, 0);

    // The sensitivity caption and slider follow the stored threshold, and the slider stores it.
    struct Threshold {
        double value;
        const char* caption;
        int slider;
    };
    for (const Threshold t : {Threshold {3000, "0% · Baja", 0}, Threshold {2200, "30% · Baja", 6},
             Threshold {2120, "34% · Equilibrada", 7}, Threshold {1440, "68% · Alta", 14}, Threshold {500, "100% · Alta", 20}}) {
        defaults->setDouble(Defaults::motionThreshold, t.value);
        pump();
        EXPECT_EQ(find<QLabel>(window, "sensitivityCaption")->text(), QString::fromUtf8(t.caption)) << t.value;
        EXPECT_EQ(find<QSlider>(window, "sensitivitySlider")->value(), t.slider) << t.value;
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

    // A stored mode that is no mode shows no row.
    settings.show(*model, 1);
    defaults->setString(Defaults::aiResponseMode, "turbo");
    pump();
    EXPECT_FALSE(shown(find(window, "modeRow")));
    defaults->setString(Defaults::aiResponseMode, "fast");
    pump();
    EXPECT_TRUE(shown(find(window, "modeRow")));

    // A signed-in status written in lower case still earns the green seal.
    settings.show(*model, 4);
    pump();
    EXPECT_EQ(find<QLabel>(window, "codexStatus")->text(), QString::fromStdString(model->codexStatus()));
    EXPECT_TRUE(Text::localizedCaseInsensitiveContains(model->codexStatus(), "chatgpt"));
    auto* seal = find<QLabel>(window, "codexSymbol");
    EXPECT_EQ(seal->pixmap().toImage(),
        Symbols::pixmap("checkmark.seal.fill", Theme::shared().colors().green, 18, seal->devicePixelRatioF()).toImage());

    // The settings are found by title and brought to the front over another window.
    QWidget other;
    other.show();
    other.activateWindow();
    pump();
    QtApplicationWindows windows;
    const auto all = windows.windows();
    const auto found = std::find_if(all.begin(), all.end(), [](auto& w) { return w.isVisible && w.title.find("Ajustes") != std::string::npos; });
    ASSERT_NE(found, all.end());
    windows.orderFrontRegardlessAndMakeKey(found->handle);
    pump();
    EXPECT_EQ(QApplication::activeWindow(), window);
}

// After an update was put in place the user is offered a restart; closing the question means later.
TEST_F(WindowsTest, UpdateDialogsAskInSpanishAndCountClosingAsLater)
{
    UpdateDialogs dialogs;
    std::optional<bool> answer;
    dialogs.showReadyToRestart("1.1.0", [&](bool restart) { answer = restart; });
    pump();
    QMessageBox* box = dialogs.current();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Zorvane 1.1.0 está instalado"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("Reinicia Zorvane para usar la versión nueva."));
    screenshot(box, "update-restart");
    find<QPushButton>(box, "acceptButton")->click();
    pump();
    EXPECT_EQ(answer, true);

    answer.reset();
    dialogs.showUpdateFound("1.2.0", "1.1.0", [&](bool install) { answer = install; });
    pump();
    dialogs.current()->close();
    pump();
    EXPECT_EQ(answer, false);
}

} // namespace
} // namespace zorvane::ui
