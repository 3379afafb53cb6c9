#include "UiHarness.h"

#include "app/ui/Controls.h"
#include "app/ui/MenuWindow.h"
#include "app/ui/settings/SettingsView.h"
#include "tests/support/DesktopSession.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sstream>
#include <unistd.h>

namespace zorvane::testing {
namespace {

class MenuTest : public UiTest {
protected:
    ui::MenuWindow& menu()
    {
        if (!menu_) {
            ui::MenuBarView::Actions actions;
            actions.quit = [this] { ++quits; };
            actions.openSettings = [this] { ++settingsOpened; };
            menu_ = std::make_unique<ui::MenuWindow>(*model, std::move(actions));
        }
        return *menu_;
    }
    template <typename T> T* item(const char* name) { return find<T>(&menu(), name); }
    void open()
    {
        menu().showNear(QRect(2800, 0, 24, 24));
        QApplication::processEvents();
    }

    int quits = 0;
    int settingsOpened = 0;
    std::unique_ptr<ui::MenuWindow> menu_;
};

TEST_F(MenuTest, ShowsTheNoticeFirstOnlyWithoutAccessibilityAndTogglesSelectAndCancel)
{
    permissions->accessibility = false;
    AppModel& m = startedModel();
    open();
    auto* notice = item<QWidget>("permissionNotice");
    auto* select = item<QPushButton>("selectionButton");
    ASSERT_TRUE(waitFor([&] { return shown(notice) && QApplication::focusWidget(); }));
    EXPECT_LT(notice->geometry().top(), select->geometry().top());
    keepScreenshot(&menu(), "menu-notice");
    // The keyboard reaches every control once, in reading order; the arrows choose the mode.
    std::string reached;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), i == 4 ? Qt::Key_Right : Qt::Key_Tab);
        reached += QApplication::focusWidget()->objectName().toStdString() + " ";
    }
    EXPECT_EQ(reached, "grantButton selectionButton activationToggle segment:fast segment:thinking settingsButton quitButton ");
    EXPECT_EQ(defaults->stringForKey(Defaults::aiResponseMode), "thinking");
    // Refused: the menu stays open and says why, in place.
    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_FALSE(m.isSelecting());
    EXPECT_TRUE(menu().isVisible());
    ASSERT_TRUE(waitFor([&] { return shown(item<QLabel>("errorLabel")); }));
    EXPECT_EQ(item<QLabel>("errorLabel")->text().toStdString(), m.lastError());
    permissions->grantAccessibilityWhenAsked = true;
    QTest::mouseClick(item<QPushButton>("grantButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !shown(notice); }, 3));
    EXPECT_EQ(permissions->accessibilityRequests, 1);

    EXPECT_EQ(select->text(), QStringLiteral("Seleccionar en pantalla"));
    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_TRUE(m.isSelecting());
    EXPECT_FALSE(menu().isVisible()) << "out of the overlay's way";
    open();
    ASSERT_TRUE(waitFor([&] { return select->text() == QStringLiteral("Cancelar selección"); }));
    keepScreenshot(&menu(), "menu-selecting");
    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_FALSE(m.isSelecting());
    ASSERT_TRUE(waitFor([&] { return select->text() == QStringLiteral("Seleccionar en pantalla"); }));

    QTest::mouseClick(item<QPushButton>("settingsButton"), Qt::LeftButton);
    EXPECT_EQ(settingsOpened, 1);
    open();
    QTest::keyClick(&menu(), Qt::Key_Escape);
    EXPECT_FALSE(menu().isVisible());
    open();
    QTest::mouseClick(item<QPushButton>("quitButton"), Qt::LeftButton);
    EXPECT_EQ(quits, 1);
}

TEST_F(MenuTest, BindsTheShakeSwitchAndTheModeToTheSettingsAndSaysWhenTheBrowserCannotConnect)
{
    defaults->setString(Defaults::aiResponseMode, "Thinking"); // not a mode's spelling
    std::filesystem::create_directories(home / "zorvane/browser-bridge"); // where the bridge's socket goes
    startedModel();
    open();
    ASSERT_TRUE(waitFor([&] { return item<QLabel>("errorLabel")->text().startsWith(QStringLiteral("La extensión del navegador")); }));
    keepScreenshot(&menu(), "menu-bridge-error");
    auto* picker = item<ui::SegmentedControl>("modePicker");
    EXPECT_EQ(picker->currentTag(), QString());
    QTest::mouseClick(item<QPushButton>("segment:thinking"), Qt::LeftButton);
    EXPECT_EQ(defaults->stringForKey(Defaults::aiResponseMode), "thinking");
    auto* toggle = item<ui::ToggleSwitch>("activationToggle");
    EXPECT_TRUE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(defaults->boolForKey(Defaults::activationEnabled));
    defaults->setString(Defaults::aiResponseMode, "fast"); // changed in the settings window: the menu follows
    ASSERT_TRUE(waitFor([&] { return picker->currentTag() == QStringLiteral("fast"); }));
}

// This test again, in a copy of the program on a private desktop (Xvfb, session and accessibility
// buses, openbox), where Qt draws on X11 and answers over AT-SPI.
void runOnPrivateDesktop()
{
    DesktopSession desktop;
    ScopedEnvironment environment;
    environment.set("ZORVANE_UI_ON_DESKTOP", "1");
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string output;
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    EXPECT_EQ(desktop.processes().run({std::filesystem::read_symlink("/proc/self/exe").string(), filter}, 120, &output), 0) << output;
}

// What a screen reader reads of this process, element by element: window, role, name, states, text.
std::vector<std::vector<std::string>> accessibleElements(Processes& processes)
{
    const auto file = processes.logFolder() / "tree.txt";
    const pid_t walker = processes.start({"/usr/bin/python3", ZORVANE_ATSPI_TREE, std::to_string(getpid()), file.string()});
    waitFor([&] { return processes.hasExited(walker); }, 60); // this process answers meanwhile
    std::vector<std::vector<std::string>> elements;
    std::ifstream lines(file);
    for (std::string line; std::getline(lines, line);) {
        std::stringstream split(line);
        for (auto& field : elements.emplace_back(5)) std::getline(split, field, '\t');
    }
    return elements;
}

// Every control of the menu, the settings and the panel, read over AT-SPI as a screen reader reads
// them: each with a role and a name, the pickers as named groups of radio buttons, the settings'
// tabs as page tabs, the question field named, the answer readable as text. The panel hidden and
// shown again is still out of the task bar and on every workspace.
TEST_F(MenuTest, EveryControlReadsWithARoleAndANameOverAtspi)
{
    if (!onDesktop()) return runOnPrivateDesktop();
    Processes tools(home.path());
    permissions->accessibility = false;
    AppModel& m = startedModel();
    ui::SettingsWindowController settings(onboarding);
    settings.show(m);
    waitFor([&] { return settings.window()->isActiveWindow(); }, 3);
    openGate();
    setAnswer("Guarda la nota **sin cerrar** la ventana.");
    m.acceptSelection(selection(Rect(100, 100, 80, 30), std::vector<std::uint8_t> {1}));
    const std::string panel = std::to_string(chatPanel->window()->winId());
    std::string panelState;
    const auto wmState = [&](const char* property) {
        panelState.clear();
        tools.run({"xprop", "-id", panel, property, "_NET_WM_DESKTOP"}, 10, &panelState);
        return panelState;
    };
    ASSERT_TRUE(waitFor([&] { return wmState("_NET_WM_STATE").find("SKIP_TASKBAR") != std::string::npos; }));
    m.closeComposer();
    // The window manager forgets the state of a window it withdrew.
    ASSERT_TRUE(waitFor([&] { return wmState("_NET_WM_STATE").find("SKIP_TASKBAR") == std::string::npos; }));
    m.acceptSelection(selection(Rect(100, 100, 80, 30), std::vector<std::uint8_t> {1}));
    m.send();
    ASSERT_TRUE(waitFor([&] { return !m.response().empty(); }));
    waitFor([&] { return chatPanel->window()->isActiveWindow(); }, 3);
    open(); // last: it closes when another window takes the keyboard
    ASSERT_TRUE(waitFor([&] { return menu().isActiveWindow(); }));

    EXPECT_TRUE(waitFor([&] {
        return wmState("_NET_WM_STATE").find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos
            && panelState.find("4294967295") != std::string::npos;
    })) << "shown again after a hide: " << panelState;

    const std::set<std::string> controls = {"push button", "check box", "radio button", "page tab", "slider", "text"};
    std::set<std::string> read;
    std::vector<std::vector<std::string>> elements;
    ASSERT_TRUE(waitFor([&] { return (elements = accessibleElements(tools)).size() > 100; }, 60));
    for (const auto& e : elements) {
        if (e[3].find("showing") == std::string::npos) continue;
        read.insert(e[0] + " | " + e[1] + " | " + e[2] + (e[1] == "radio button" || e[1] == "page tab" ? " | " + e[3] : ""));
        if (controls.count(e[1])) {
            EXPECT_FALSE(e[2].empty()) << e[0] << " has a " << e[1] << " without a name";
        }
        if (e[2] == "Respuesta" && e[3].find("focusable") != std::string::npos) {
            EXPECT_EQ(e[4], "Guarda la nota sin cerrar la ventana.") << "the answer, read as text";
        }
    }
    for (const char* expected : {"Zorvane | push button | Seleccionar en pantalla", "Zorvane | check box | Gesto rápido",
             "Zorvane | panel | Modo de respuesta", "Zorvane | radio button | Fast | showing,focusable,checked",
             "Ajustes de Zorvane | page tab list | Ajustes", "Ajustes de Zorvane | page tab | General | showing,focusable,checked,selected",
             "Ajustes de Zorvane | page tab | Privacidad | showing", "Zorvane | text | Pregunta sobre la selección",
             "Zorvane | push button | Dictar"})
        EXPECT_EQ(read.count(expected), 1u) << expected;
}

// Beside the tray icon, above it for a bottom panel, at the pointer without one; always inside the screen.
TEST(MenuPlacementTest, OpensBesideTheIconInsideTheScreen)
{
    const struct {
        QRect anchor;
        QPoint pointer, expected;
    } cases[] = {
        {QRect(700, 0, 24, 24), {}, QPoint(551, 28)},    // top panel: centred below
        {QRect(1420, 0, 20, 24), {}, QPoint(1114, 28)},  // right corner: kept inside
        {QRect(700, 876, 24, 24), {}, QPoint(551, 572)}, // bottom panel: above
        {QRect(), QPoint(100, 100), QPoint(100, 100)},   // no tray geometry: at the pointer
        {QRect(), QPoint(1430, 890), QPoint(1114, 594)}, // … kept inside
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::MenuWindow::placement(c.anchor, c.pointer, QSize(320, 300), QRect(0, 0, 1440, 900)), c.expected) << c.anchor.x();
}

} // namespace
} // namespace zorvane::testing
