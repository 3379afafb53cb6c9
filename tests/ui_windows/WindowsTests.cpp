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
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>

#include <cstdlib>

using namespace zorvane;
using namespace zorvane::ui;

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "ui_windows_integration_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (!std::getenv("DISPLAY") || !std::getenv("ZORVANE_UI_ON_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The offscreen platform complains that it cannot raise windows; nothing to act on here.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        auto* created = new QApplication(argc, argv);
        // The offscreen platform knows no icon folders of its own; the desktop's platform does.
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        Symbols::installIconTheme();
        return created;
    }();
    return *app;
}

template <typename T> T* find(QWidget* root, const char* name)
{
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

bool shown(QWidget* widget) { return widget && widget->isVisibleTo(widget->window()); }

// Whether the label shows `symbol` tinted in `color`.
bool showsSymbol(QLabel* label, const char* symbol, const QColor& color, int points)
{
    return !label->pixmap().isNull() && label->pixmap().toImage() == Symbols::pixmap(symbol, color, points, label->devicePixelRatioF()).toImage();
}

class WindowsTest : public zorvane::testing::ModelTest {
protected:
    WindowsTest()
    {
        application();
        Theme::shared().setOverride(Theme::Scheme::light);
    }

    // Runs the model's due tasks and Qt's events until both are quiet.
    void pump()
    {
        for (int i = 0; i < 5; ++i) {
            queue->runPending();
            QCoreApplication::processEvents();
        }
    }

    void becomeActive()
    {
        QMetaObject::invokeMethod(qGuiApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
        pump();
    }

    // Screenshots for a person to look at, when ZORVANE_SCREENSHOT_DIR names a folder.
    void screenshot(QWidget* window, const std::string& name)
    {
        const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR");
        if (!folder) return;
        // Let the step indicator's animation end.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 400) pump();
        window->grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
    }
};

} // namespace

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
    QPushButton* primary = find<QPushButton>(window, "primaryButton");
    QPushButton* back = find<QPushButton>(window, "backButton");
    EXPECT_EQ(steps->currentWidget()->objectName(), QStringLiteral("welcomeStep"));
    EXPECT_EQ(primary->text(), QStringLiteral("Empezar"));
    EXPECT_FALSE(shown(back));

    primary->click();
    auto* accessibilityRow = find<PermissionRow>(window, "accessibilityRow");
    EXPECT_EQ(steps->currentWidget()->objectName(), QStringLiteral("permissionsStep"));
    EXPECT_EQ(primary->text(), QStringLiteral("Continuar"));
    EXPECT_TRUE(shown(back));
    EXPECT_TRUE(shown(find<QPushButton>(accessibilityRow, "allowButton")));
    // Granted in the system's settings; coming back to Zorvane turns the row green, no click needed.
    permissions->accessibility = true;
    becomeActive();
    EXPECT_TRUE(accessibilityRow->isGranted());
    EXPECT_FALSE(shown(find<QPushButton>(accessibilityRow, "allowButton")));
    EXPECT_FALSE(find<PermissionRow>(window, "screenRecordingRow")->isGranted());

    primary->click();
    EXPECT_EQ(find<QLabel>(window, "browserTitle")->text(), QStringLiteral("Conecta tu navegador"));
    EXPECT_TRUE(shown(find<QPushButton>(window, "setUpBrowserButton")));
    auto host = connectHost();
    pump();
    EXPECT_EQ(find<QLabel>(window, "browserTitle")->text(), QStringLiteral("Navegador conectado"));
    EXPECT_FALSE(shown(find<QPushButton>(window, "setUpBrowserButton")));

    primary->click();
    EXPECT_EQ(primary->text(), QStringLiteral("Usar Zorvane"));
    auto* description = find<QLabel>(window, "modeDescription");
    EXPECT_EQ(description->text(), QStringLiteral("Prioriza la menor latencia con respuestas concisas."));
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

    // The sensitivity caption and slider follow the stored threshold.
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
    const QString refusal = QStringLiteral("No se pudo cambiar el inicio automático: Operación no permitida");
    EXPECT_TRUE(QString::fromStdString(model->lastError().value_or("")).startsWith(refusal));
    EXPECT_EQ(find<QLabel>(window, "launchAtLoginError")->text().toStdString(), model->lastError());
    launchAtLogin->click();
    pump();
    EXPECT_TRUE(launchAtLogin->isChecked());
    EXPECT_FALSE(shown(find<QLabel>(window, "launchAtLoginError")));

    // A build without a feed and key: no update control can be used, and the caption says so.
    EXPECT_FALSE(find<QAbstractButton>(window, "automaticChecksToggle")->isEnabled());
    EXPECT_FALSE(find<QAbstractButton>(window, "automaticDownloadsToggle")->isEnabled());
    EXPECT_FALSE(find<QPushButton>(window, "checkNowButton")->isEnabled());
    EXPECT_EQ(find<QLabel>(window, "updateCaption")->text(),
        QStringLiteral("Las actualizaciones se configurarán al crear el build de distribución."));

    const int onboardingShows = onboarding->showCount;
    find<QPushButton>(window, "openOnboardingButton")->click();
    EXPECT_EQ(onboarding->showCount, onboardingShows + 1);

    // A stored mode that is no mode shows no row.
    settings.show(*model, 1);
    defaults->setString(Defaults::aiResponseMode, "turbo");
    pump();
    EXPECT_FALSE(shown(find<QWidget>(window, "modeRow")));
    defaults->setString(Defaults::aiResponseMode, "fast");
    pump();
    EXPECT_TRUE(shown(find<QWidget>(window, "modeRow")));

    // A signed-in status written in lower case still earns the green seal.
    settings.show(*model, 4);
    waitUntil([&] { return model->codexStatus() != AppModel::checkingCodexStatus; });
    pump();
    EXPECT_EQ(find<QLabel>(window, "codexStatus")->text(), QString::fromStdString(model->codexStatus()));
    EXPECT_TRUE(Text::localizedCaseInsensitiveContains(model->codexStatus(), "chatgpt"));
    EXPECT_TRUE(showsSymbol(find<QLabel>(window, "codexSymbol"), "checkmark.seal.fill", Theme::shared().colors().green, 18));

    // The settings are found by title and brought to the front over another window.
    QWidget other;
    other.setWindowTitle(QStringLiteral("Otra ventana"));
    other.show();
    other.activateWindow();
    pump();
    QtApplicationWindows windows;
    std::uint64_t settingsHandle = 0;
    for (const auto& w : windows.windows())
        if (w.isVisible && w.title.find("Ajustes") != std::string::npos) settingsHandle = w.handle;
    ASSERT_NE(settingsHandle, 0u);
    windows.orderFrontRegardlessAndMakeKey(settingsHandle);
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
    screenshot(box, "update-restart-light");
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

// Not a check: every onboarding step and settings tab in light and dark, for a person to judge.
TEST_F(WindowsTest, Screenshots)
{
    if (!std::getenv("ZORVANE_SCREENSHOT_DIR")) GTEST_SKIP() << "set ZORVANE_SCREENSHOT_DIR to take them";
    permissions->screenRecording = false;
    permissions->microphone = false;
    startedModel();
    ui::OnboardingWindowController window;
    SettingsWindowController settings(onboarding);
    for (auto scheme : {Theme::Scheme::light, Theme::Scheme::dark}) {
        Theme::shared().setOverride(scheme);
        const std::string suffix = scheme == Theme::Scheme::dark ? "-dark" : "-light";
        window.show(*model);
        pump();
        QWidget* onboarding = window.window();
        QPushButton* primary = find<QPushButton>(onboarding, "primaryButton");
        QPushButton* back = find<QPushButton>(onboarding, "backButton");
        while (window.view()->step() > 0) back->click();
        for (int step = 0; step < OnboardingView::stepCount; ++step) {
            screenshot(onboarding, "onboarding-" + std::to_string(step) + suffix);
            if (step < OnboardingView::stepCount - 1) primary->click();
        }
        for (int tab = 0; tab < 5; ++tab) {
            settings.show(*model, tab);
            screenshot(settings.window(), "settings-" + std::to_string(tab) + suffix);
            if (tab == 0) { // the general tab is taller than the window: its end too
                auto* scroll = find<QScrollArea>(settings.window(), "generalTab");
                scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
                screenshot(settings.window(), "settings-0-end" + suffix);
            }
        }
    }
}
