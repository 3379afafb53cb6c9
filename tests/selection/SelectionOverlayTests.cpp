#include "app/selection/SelectionOverlayCoordinator.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeEventMonitors.h"
#include "fakes/FakeOverlayPanels.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeScreens.h"
#include "fakes/FakeWindowList.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zorvane {
namespace {

using fakes::FakeAccessibilityTree;
using NodeID = FakeAccessibilityTree::NodeID;

constexpr ProcessID ownPID = 100;
constexpr ProcessID notesPID = 200;
constexpr KeyEvent escape {KeyEvent::escape};

const Rect saveButton(100, 100, 200, 40);
const Rect photo(600, 300, 200, 150);

// Two screens side by side, the left one primary; a notes window across both with a button and
// a photo on the left screen. The pointer starts on the button.
class SelectionOverlayTest : public ::testing::Test {
protected:
    SelectionOverlayTest()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 1440, 900));
        screens->addScreen(Rect(1440, 0, 1440, 900));
        windows->addWindow(notesPID, Rect(0, 0, 2880, 900));
        window = tree->addElement(tree->addApplication(notesPID, "Notas"), "AXWindow", Rect(0, 0, 2880, 900));
        tree->addElement(window, "AXButton", saveButton, {{"AXTitle", std::string("Guardar")}});
        tree->addElement(window, "AXImage", photo, {{"AXTitle", std::string("Foto")}});
        tree->setHit(notesPID, window);
        monitors->setPointerLocation({120, 115});
    }

    void begin()
    {
        overlay->begin([this](const CapturedContext& context) { selections.push_back(context); }, [this] { ++cancellations; });
    }

    std::shared_ptr<fakes::FakeOverlayPanels::Record> panel(std::size_t index) { return panels->shown().at(index); }

    void expectNothingLeft()
    {
        EXPECT_TRUE(panels->onScreen().empty());
        for (const auto& record : panels->shown()) EXPECT_TRUE(record->released);
        EXPECT_EQ(monitors->installedMonitorCount(), 0u);
        EXPECT_EQ(monitors->strayRemovalCount(), 0u);
        EXPECT_FALSE(overlay->isActive());
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeWindowList> windows = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<FakeAccessibilityTree> tree = std::make_shared<FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeOverlayPanels> panels = std::make_shared<fakes::FakeOverlayPanels>();
    std::shared_ptr<fakes::FakeEventMonitors> monitors = std::make_shared<fakes::FakeEventMonitors>();
    std::shared_ptr<SelectionOverlayCoordinator> overlay = SelectionOverlayCoordinator::create(
        std::make_shared<AccessibilitySelectionService>(permissions, windows, tree, screens, clock, ownPID), screens, panels, monitors, queue,
        clock);
    NodeID window = 0;

    std::vector<CapturedContext> selections;
    int cancellations = 0;
};

TEST_F(SelectionOverlayTest, BeginOutlinesWhatIsUnderThePointerOnEveryUsableScreenAndAClickAcceptsIt)
{
    screens->addScreenWithoutDisplayID(Rect(2880, 0, 800, 600));
    const Rect split(1340, 500, 200, 40);
    tree->addElement(window, "AXButton", split, {{"AXTitle", std::string("Dividido")}});
    monitors->setPointerLocation({1400, 510});
    begin();
    ASSERT_EQ(panels->shown().size(), 2u);
    EXPECT_EQ(panel(1)->screen.quartzBounds, Rect(1440, 0, 1440, 900));
    // Each screen outlines its own part, in its own coordinates.
    EXPECT_EQ(panel(0)->highlightRect, Rect(1340, 500, 100, 40));
    EXPECT_EQ(panel(1)->highlightRect, Rect(0, 500, 100, 40));
    EXPECT_EQ(panel(1)->label, "Dividido");

    panels->click({1400, 510});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title, "Dividido");
    EXPECT_EQ(selections[0].screenRect, split);
    EXPECT_EQ(cancellations, 0);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, PointerMovesLookUpAtMostOnceEveryThirtyFiveMilliseconds)
{
    begin();
    const std::size_t lookups = tree->elementAtPointCount;
    clock->advance(0.020);
    panels->move({650, 350});
    EXPECT_EQ(tree->elementAtPointCount, lookups);
    EXPECT_EQ(panel(0)->highlightRect, saveButton); // the outline stays where it was
    clock->advance(0.020);
    panels->move({650, 350});
    EXPECT_EQ(tree->elementAtPointCount, lookups + 1);
    EXPECT_EQ(panel(0)->label, "Foto");
    panels->click({650, 350});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, photo);
}

TEST_F(SelectionOverlayTest, ADragOfAtLeastEightByEightSelectsExactlyThatArea)
{
    begin();
    panels->mouseDown({400, 400});
    panels->drag({410, 420});
    EXPECT_EQ(panel(0)->highlightRect, Rect(400, 400, 10, 20));
    EXPECT_EQ(panel(0)->label, "Área exacta seleccionada");
    panels->drag({300, 350}); // up and to the left of where it began
    panels->drag({397, 397}); // shrunk too small: the last large enough area stays
    panels->mouseUp({397, 397});

    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, Rect(300, 350, 100, 50));
    EXPECT_EQ(selections[0].kind, CapturedContext::Kind::image);
    EXPECT_EQ(selections[0].appName, "Pantalla");
    EXPECT_EQ(selections[0].role, "Selección manual");
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, ADragIsCutToItsFirstScreenAndOneTooFlatOrBegunOffEveryScreenActsAsAClick)
{
    begin();
    panels->mouseDown({1300, 100});
    panels->drag({1600, 300});
    EXPECT_EQ(panel(0)->highlightRect, Rect(1300, 100, 140, 200));
    EXPECT_EQ(panel(1)->highlightRect, std::nullopt);
    panels->mouseUp({1600, 300});

    begin();
    panels->mouseDown({400, 400});
    panels->drag({500, 405});
    EXPECT_EQ(panel(2)->highlightRect, saveButton);
    panels->mouseUp({500, 405});

    begin();
    panel(4)->handlers.onMouseDown({-50, 100});
    panel(4)->handlers.onDrag({200, 300});
    panel(4)->handlers.onMouseUp({200, 300});
    ASSERT_EQ(selections.size(), 3u);
    EXPECT_EQ(selections[0].screenRect, Rect(1300, 100, 140, 200));
    EXPECT_EQ(selections[1].title, "Guardar");
    EXPECT_EQ(selections[2].title, "Guardar");
}

TEST_F(SelectionOverlayTest, WhereNothingIsFoundTheAreaAroundThePointerIsOffered)
{
    windows->windows = std::vector<WindowInfo> {};
    monitors->setPointerLocation({100, 100});
    begin();
    EXPECT_EQ(panel(0)->highlightRect, Rect(0, 0, 460, 340));
    EXPECT_EQ(panel(0)->label, "Captura alrededor del cursor");
    panels->click({100, 100});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, Rect(0, 0, 460, 340));
    EXPECT_EQ(selections[0].role, "Área visual");

    // Off every screen the rectangle is left uncut; it still shows where it overlaps one.
    monitors->setPointerLocation({-100, -100});
    begin();
    EXPECT_EQ(panel(2)->highlightRect, Rect(0, 0, 260, 140));
    panel(2)->handlers.onMouseUp({-100, -100});
    ASSERT_EQ(selections.size(), 2u);
    EXPECT_EQ(selections[1].screenRect, Rect(-460, -340, 720, 480));
}

TEST_F(SelectionOverlayTest, EscapeAnywhereCancelsExactlyOnceAndOtherKeysPassThrough)
{
    begin();
    monitors->deliverGlobalKeyDown(KeyEvent {12});
    EXPECT_FALSE(monitors->deliverLocalKeyDown(KeyEvent {36}));
    queue->runPending();
    EXPECT_TRUE(overlay->isActive());
    // In another application: handled on the main thread, not on the one that delivered the key.
    monitors->deliverGlobalKeyDown(escape);
    EXPECT_EQ(cancellations, 0);
    monitors->deliverGlobalKeyDown(escape); // a second press before the main thread ran
    queue->runPending();
    EXPECT_EQ(cancellations, 1);
    expectNothingLeft();

    begin();
    EXPECT_TRUE(monitors->deliverLocalKeyDown(escape)); // in our own windows: swallowed
    EXPECT_EQ(cancellations, 2);
    expectNothingLeft();
    EXPECT_FALSE(monitors->deliverLocalKeyDown(escape)); // the application's again

    begin();
    panels->pressEscape(); // while a panel has the keyboard
    EXPECT_EQ(cancellations, 3);
    expectNothingLeft();

    // Pressed again and again, delivered on the keyboard watcher's thread while the main thread
    // removes the monitor: cancelled once, and no handler runs after its removal (the fake fails
    // the test if one does).
    begin();
    std::atomic<bool> released {false};
    std::thread keyboard([&] {
        while (!released) monitors->deliverGlobalKeyDown(escape);
    });
    EXPECT_TRUE(queue->runUntil([&] { return cancellations == 4; }));
    released = true;
    keyboard.join();
    queue->runPending();
    EXPECT_EQ(cancellations, 4);
    expectNothingLeft();

    // Without a usable screen there is no panel; Escape still ends the selection.
    screens->removeAll();
    begin();
    monitors->deliverGlobalKeyDown(escape);
    queue->runPending();
    EXPECT_EQ(cancellations, 5);
    EXPECT_TRUE(selections.empty());
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, LateEventsOfAReplacedOrCancelledSelectionDoNothing)
{
    int firstCalls = 0;
    overlay->begin([&](const CapturedContext&) { ++firstCalls; }, [&] { ++firstCalls; });
    const auto first = panels->shown();
    monitors->deliverGlobalKeyDown(escape); // on its way to the main thread
    begin(); // replaces the first selection without a word
    EXPECT_EQ(panels->onScreen().size(), 2u);
    EXPECT_EQ(monitors->installedMonitorCount(), 2u);
    first[0]->handlers.onMouseUp({120, 115});
    first[0]->handlers.onCancel();
    queue->runPending();
    EXPECT_TRUE(overlay->isActive());
    EXPECT_EQ(firstCalls, 0);
    EXPECT_TRUE(selections.empty());
    EXPECT_EQ(cancellations, 0);

    // Cancel is silent, and the same holds after it.
    monitors->deliverGlobalKeyDown(escape);
    const auto second = panels->shown().at(2);
    overlay->cancel();
    expectNothingLeft();
    second->handlers.onMouseUp({120, 115});
    queue->runPending();
    EXPECT_TRUE(selections.empty());
    EXPECT_EQ(cancellations, 0);
}

TEST_F(SelectionOverlayTest, ASelectionCallbackMayStartTheNextSelection)
{
    overlay->begin([this](const CapturedContext&) { begin(); }, [] {});
    panels->click({120, 115});
    EXPECT_TRUE(overlay->isActive());
    EXPECT_EQ(panels->onScreen().size(), 2u);
    monitors->deliverLocalKeyDown(escape);
    EXPECT_EQ(cancellations, 1);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, AGoneCoordinatorLeavesNothingBehindAndIgnoresLateEvents)
{
    begin();
    const auto shown = panels->shown();
    monitors->deliverGlobalKeyDown(escape);
    overlay.reset();
    EXPECT_TRUE(panels->onScreen().empty());
    EXPECT_EQ(monitors->installedMonitorCount(), 0u);
    shown[0]->handlers.onMouseUp({120, 115});
    queue->runPending();
    EXPECT_TRUE(selections.empty());
    EXPECT_EQ(cancellations, 0);
}

} // namespace
} // namespace zorvane
