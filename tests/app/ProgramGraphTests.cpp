#include "app/DesktopProgram.h"
#include "app/ui/QtMainQueue.h"
#include "tests/support/DesktopSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace zorvane::testing {
namespace {

bool shown(const char* name)
{
    for (const QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String(name) && window->isVisible()) return true;
    return false;
}

// The program's object graph, built as main builds it, on a first run with every window that holds
// a view of the model on screen: dropping the program destroys the model, and with it its folder.
TEST(ProgramGraph, AfterAFirstRunWithItsWindowsTheModelGoesWithEverythingItMade)
{
    DesktopSession session({.twoMonitors = false, .windowManager = false, .accessibilityBus = false});
    const auto kind = chooseSession();
    ASSERT_TRUE(kind);
    int argc = 1;
    char name[] = "program_graph";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    auto program = std::make_unique<DesktopProgram>(*kind, CompositionOptions {false, std::make_shared<ui::QtMainQueue>()});
    const std::weak_ptr<AppModel> model = program->model();
    program->start(ui::SingleInstance::Request::openSettings);
    QElapsedTimer waited;
    for (waited.start(); !(shown("onboardingWindow") && shown("settingsWindow")) && waited.elapsed() < 10000;)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(shown("onboardingWindow")) << "a first run shows the onboarding";
    ASSERT_TRUE(shown("settingsWindow"));
    const std::filesystem::path folder = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "zorvane";
    EXPECT_FALSE(std::filesystem::is_empty(folder));

    program.reset();
    EXPECT_TRUE(model.expired()) << "something still holds the model";
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

} // namespace
} // namespace zorvane::testing
