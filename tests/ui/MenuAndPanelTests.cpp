#include "UiHarness.h"

#include "app/ui/Controls.h"
#include "app/ui/MenuWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

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
    ASSERT_TRUE(waitFor([&] { return shown(notice); }));
    EXPECT_LT(notice->geometry().top(), select->geometry().top());
    keepScreenshot(&menu(), "menu-notice");

    permissions->grantAccessibilityWhenAsked = true;
    QTest::mouseClick(item<QPushButton>("grantButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !shown(notice); }, 3));
    EXPECT_EQ(permissions->accessibilityRequests, 1);

    EXPECT_EQ(select->text(), QStringLiteral("Seleccionar en pantalla"));
    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_TRUE(m.isSelecting());
    EXPECT_FALSE(menu().isVisible()); // out of the overlay's way
    open();
    ASSERT_TRUE(waitFor([&] { return select->text() == QStringLiteral("Cancelar selección"); }));
    keepScreenshot(&menu(), "menu-selecting");
    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_FALSE(m.isSelecting());
    ASSERT_TRUE(waitFor([&] { return select->text() == QStringLiteral("Seleccionar en pantalla"); }));

    // The footer: settings open and are raised; "Salir" quits.
    QTest::mouseClick(item<QPushButton>("settingsButton"), Qt::LeftButton);
    EXPECT_EQ(settingsOpened, 1);
    open();
    QTest::mouseClick(item<QPushButton>("quitButton"), Qt::LeftButton);
    EXPECT_EQ(quits, 1);
}

TEST_F(MenuTest, BindsTheShakeSwitchAndTheModeToTheSettingsAndWrapsALongError)
{
    defaults->setString(Defaults::aiResponseMode, "Thinking"); // not a raw value
    AppModel& m = startedModel();
    open();
    auto* picker = item<ui::SegmentedControl>("modePicker");
    EXPECT_EQ(picker->currentTag(), QString());
    QTest::mouseClick(item<QPushButton>("segment:thinking"), Qt::LeftButton);
    EXPECT_EQ(defaults->stringForKey(Defaults::aiResponseMode), "thinking");

    auto* toggle = item<ui::ToggleSwitch>("activationToggle");
    EXPECT_TRUE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(defaults->boolForKey(Defaults::activationEnabled));
    // Changed elsewhere (the settings window): the menu follows.
    defaults->setString(Defaults::aiResponseMode, "fast");
    ASSERT_TRUE(waitFor([&] { return picker->currentTag() == QStringLiteral("fast"); }));

    // A long error wraps inside the menu's width.
    permissions->accessibility = false;
    m.activateSelection(); // the long Accessibility text
    open();
    auto* error = item<QLabel>("errorLabel");
    ASSERT_TRUE(waitFor([&] { return shown(error); }));
    menu().adjustSize();
    EXPECT_EQ(menu().width(), ui::MenuBarView::width);
    EXPECT_GE(error->height(), 2 * error->fontMetrics().lineSpacing());
    EXPECT_LE(error->geometry().right(), ui::MenuBarView::width - 16);
    EXPECT_EQ(error->text().toStdString(), *m.lastError());
    keepScreenshot(&menu(), "menu-error");
}

// The menu opens beside the tray icon, above it for a bottom panel, at the pointer without one,
// and always inside the screen.
TEST(MenuPlacementTest, OpensBesideTheIconInsideTheScreen)
{
    const QRect screen(0, 0, 1440, 900);
    const QSize size(320, 300);
    const struct {
        QRect anchor;
        QPoint pointer;
        QPoint expected;
    } cases[] = {
        {QRect(700, 0, 24, 24), {}, QPoint(551, 28)},         // top panel: centred below
        {QRect(1420, 0, 20, 24), {}, QPoint(1114, 28)},       // right corner: kept inside
        {QRect(700, 876, 24, 24), {}, QPoint(551, 572)},      // bottom panel: above
        {QRect(), QPoint(100, 100), QPoint(100, 100)},        // no tray geometry: at the pointer
        {QRect(), QPoint(1430, 890), QPoint(1114, 594)},      // … kept inside
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::MenuWindow::placement(c.anchor, c.pointer, size, screen), c.expected) << c.anchor.x() << ',' << c.pointer.x();
    }
}

// On the right-hand monitor, by its right edge: the panel stays on that monitor 12 points inside;
// it grows for an answer and comes back compact for the next selection.
TEST_F(UiTest, PlacesThePanelOnTheSelectionsMonitorAndReopensCompact)
{
    AppModel& m = startedModel();
    const Rect nearRightEdge(2840, 400, 30, 20);
    m.acceptSelection(selection(nearRightEdge, true));
    QWidget* panel = chatPanel->window();
    ASSERT_TRUE(waitFor([&] { return panel && panel->isVisible(); }));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Zorvane"));
    EXPECT_EQ(panel->geometry(), QRect(2880 - 12 - 500, 400 + 20 + 18, 500, 220));
    EXPECT_TRUE(chatPanel->isOnScreen());
    EXPECT_GE(m.composerFocusRequest(), 1);

    setAnswer("Hecho.");
    openGate();
    m.setDraft("¿Qué es?");
    m.send();
    ASSERT_TRUE(waitFor([&] { return panel->size() == QSize(640, 560); }, 3));
    // Grown from the same top edge and centre, then kept 12 points inside on the right and below.
    EXPECT_EQ(panel->geometry(), QRect(2880 - 12 - 640, 900 - 12 - 560, 640, 560));
    ASSERT_TRUE(waitFor([&] { return !m.isLoading(); }));

    // Near the bottom of the left monitor: above the selection, compact again.
    const Rect nearBottom(300, 860, 100, 30);
    m.acceptSelection(selection(nearBottom, true));
    QApplication::processEvents();
    EXPECT_EQ(panel->geometry(), QRect(300 + 50 - 250, 860 - 18 - 220, 500, 220));

    m.closeComposer();
    QApplication::processEvents();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(chatPanel->isOnScreen());
}

} // namespace
} // namespace zorvane::testing
