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
    QTest::mouseClick(item<QPushButton>("quitButton"), Qt::LeftButton);
    EXPECT_EQ(quits, 1);
}

TEST_F(MenuTest, BindsTheShakeSwitchAndTheModeToTheSettings)
{
    defaults->setString(Defaults::aiResponseMode, "Thinking"); // not a mode's spelling
    startedModel();
    open();
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
