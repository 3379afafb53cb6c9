#include "app/selection/SelectionOverlayCoordinator.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeEventMonitors.h"
#include "fakes/FakeOverlayPanels.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeScreens.h"
#include "fakes/FakeWindowList.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

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
// a photo on the left screen.
class SelectionOverlayTest : public ::testing::Test {
protected:
    SelectionOverlayTest()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 1440, 900));
        screens->addScreen(Rect(1440, 0, 1440, 900));
        windows->addWindow(notesPID, Rect(0, 0, 2880, 900));
        const NodeID app = tree->addApplication(notesPID, "Notas");
        window = tree->addElement(app, "AXWindow", Rect(0, 0, 2880, 900));
        tree->addElement(window, "AXButton", saveButton, {{"AXTitle", std::string("Guardar")}});
        tree->addElement(window, "AXImage", photo, {{"AXTitle", std::string("Foto")}});
        tree->setHit(notesPID, window);
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
        std::make_shared<AccessibilitySelectionService>(permissions, windows, tree, screens, ownPID), screens, panels, monitors, queue,
        clock);
    NodeID window = 0;

    std::vector<CapturedContext> selections;
    int cancellations = 0;
};

TEST_F(SelectionOverlayTest, BeginCoversEveryUsableScreenAndOutlinesWhatIsUnderThePointerAtOnce)
{
    screens->addScreenWithoutDisplayID(Rect(2880, 0, 800, 600));
    monitors->setPointerLocation({120, 115});
    begin();

    ASSERT_EQ(panels->shown().size(), 2u);
    EXPECT_EQ(panel(0)->screen.quartzBounds, Rect(0, 0, 1440, 900));
    EXPECT_EQ(panel(1)->screen.quartzBounds, Rect(1440, 0, 1440, 900));
    EXPECT_EQ(panel(0)->highlightRect, saveButton);
    EXPECT_EQ(panel(0)->label, "Guardar");
    // The other screen shows the same label and no outline.
    EXPECT_EQ(panel(1)->highlightRect, std::nullopt);
    EXPECT_EQ(panel(1)->label, "Guardar");
    EXPECT_EQ(monitors->globalKeyDownMonitorCount(), 1u);
    EXPECT_EQ(monitors->localKeyDownMonitorCount(), 1u);
    EXPECT_TRUE(overlay->isActive());
}

TEST_F(SelectionOverlayTest, AClickWithoutMovingAcceptsWhatBeginFound)
{
    monitors->setPointerLocation({120, 115});
    begin();
    panels->click({120, 115});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title, "Guardar");
    EXPECT_EQ(selections[0].screenRect, saveButton);
    EXPECT_EQ(cancellations, 0);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, PointerMovesLookUpAtMostOnceEveryThirtyFiveMilliseconds)
{
    monitors->setPointerLocation({120, 115});
    begin();
    const std::size_t afterBegin = tree->elementAtPointCount;

    clock->advance(0.020);
    panels->move({650, 350});
    EXPECT_EQ(tree->elementAtPointCount, afterBegin);
    EXPECT_EQ(panel(0)->highlightRect, saveButton); // the outline stays where it was

    clock->advance(0.020);
    panels->move({650, 350});
    EXPECT_EQ(tree->elementAtPointCount, afterBegin + 1);
    EXPECT_EQ(panel(0)->highlightRect, photo);
    EXPECT_EQ(panel(0)->label, "Foto");

    // Counted from the last lookup, not from the last move.
    clock->advance(0.020);
    panels->move({120, 115});
    EXPECT_EQ(tree->elementAtPointCount, afterBegin + 1);
    clock->advance(0.016);
    panels->move({120, 115});
    EXPECT_EQ(tree->elementAtPointCount, afterBegin + 2);

    panels->click({120, 115});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title, "Guardar");
}

TEST_F(SelectionOverlayTest, ASecondBeginReplacesTheFirstWithoutCancellingIt)
{
    int firstCancellations = 0;
    std::vector<CapturedContext> firstSelections;
    overlay->begin([&](const CapturedContext& c) { firstSelections.push_back(c); }, [&] { ++firstCancellations; });
    const auto firstPanels = panels->shown();
    begin();

    for (const auto& record : firstPanels) EXPECT_FALSE(record->onScreen);
    EXPECT_EQ(panels->onScreen().size(), 2u);
    EXPECT_EQ(monitors->installedMonitorCount(), 2u);
    // Events reaching the old panels belong to a selection that is over.
    firstPanels[0]->handlers.onMouseUp({120, 115});
    EXPECT_TRUE(selections.empty());

    monitors->deliverLocalKeyDown(escape);
    EXPECT_EQ(firstCancellations, 0);
    EXPECT_TRUE(firstSelections.empty());
    EXPECT_EQ(cancellations, 1);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, ADragOfAtLeastEightByEightSelectsExactlyThatArea)
{
    monitors->setPointerLocation({120, 115});
    begin();
    panels->mouseDown({400, 400});
    panels->drag({410, 420});
    EXPECT_EQ(panel(0)->highlightRect, Rect(400, 400, 10, 20));
    EXPECT_EQ(panel(0)->label, "Área exacta seleccionada");
    // Dragged up and to the left of where it began.
    panels->drag({300, 350});
    panels->mouseUp({300, 350});

    ASSERT_EQ(selections.size(), 1u);
    const CapturedContext& area = selections[0];
    EXPECT_EQ(area.screenRect, Rect(300, 350, 100, 50));
    EXPECT_EQ(area.kind, CapturedContext::Kind::image);
    EXPECT_EQ(area.appName, "Pantalla");
    EXPECT_EQ(area.role, "Selección manual");
    EXPECT_EQ(area.title, "Área exacta seleccionada");
    EXPECT_EQ(area.content, "");
    EXPECT_EQ(area.imageData, std::nullopt);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, ATooFlatDragActsAsAClick)
{
    monitors->setPointerLocation({120, 115});
    begin();
    panels->mouseDown({400, 400});
    panels->drag({500, 405});
    EXPECT_EQ(panel(0)->highlightRect, saveButton);
    panels->mouseUp({500, 405});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title, "Guardar");
}

TEST_F(SelectionOverlayTest, ShrinkingADragKeepsTheLastLargeEnoughArea)
{
    begin();
    panels->mouseDown({400, 400});
    panels->drag({460, 450});
    panels->drag({403, 403});
    panels->mouseUp({403, 403});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, Rect(400, 400, 60, 50));
}

TEST_F(SelectionOverlayTest, ADragAcrossScreensIsCutToTheScreenWhereItBegan)
{
    begin();
    panels->mouseDown({1300, 100});
    panels->drag({1600, 300});
    EXPECT_EQ(panel(0)->highlightRect, Rect(1300, 100, 140, 200));
    EXPECT_EQ(panel(1)->highlightRect, std::nullopt);
    panels->mouseUp({1600, 300});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, Rect(1300, 100, 140, 200));
}

TEST_F(SelectionOverlayTest, ADragBegunOffEveryScreenIsIgnored)
{
    monitors->setPointerLocation({120, 115});
    begin();
    panel(0)->handlers.onMouseDown({-50, 100});
    panel(0)->handlers.onDrag({200, 300});
    panel(0)->handlers.onMouseUp({200, 300});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title, "Guardar");
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
    EXPECT_EQ(selections[0].appName, "Pantalla");
    EXPECT_EQ(selections[0].role, "Área visual");
    EXPECT_EQ(selections[0].title, "Captura alrededor del cursor");
    EXPECT_EQ(selections[0].kind, CapturedContext::Kind::image);

    // Off every screen the rectangle is left uncut; it still shows where it overlaps one.
    monitors->setPointerLocation({-100, -100});
    begin();
    EXPECT_EQ(panels->shown().back()->highlightRect, std::nullopt);
    EXPECT_EQ(panels->shown().at(2)->highlightRect, Rect(0, 0, 260, 140));
    panels->shown().at(2)->handlers.onMouseUp({-100, -100});
    ASSERT_EQ(selections.size(), 2u);
    EXPECT_EQ(selections[1].screenRect, Rect(-460, -340, 720, 480));
}

TEST_F(SelectionOverlayTest, AnElementAcrossTwoScreensIsOutlinedOnBothInParts)
{
    tree->addElement(window, "AXButton", Rect(1340, 500, 200, 40), {{"AXTitle", std::string("Dividido")}});
    monitors->setPointerLocation({1400, 510});
    begin();
    EXPECT_EQ(panel(0)->highlightRect, Rect(1340, 500, 100, 40));
    EXPECT_EQ(panel(1)->highlightRect, Rect(0, 500, 100, 40));
    EXPECT_EQ(panel(0)->label, "Dividido");
    EXPECT_EQ(panel(1)->label, "Dividido");
}

TEST_F(SelectionOverlayTest, EscapeInAnotherApplicationCancelsExactlyOnceOnTheMainThread)
{
    begin();
    EXPECT_EQ(monitors->deliverGlobalKeyDown(KeyEvent {12}), 1u);
    queue->runPending();
    EXPECT_TRUE(overlay->isActive());

    monitors->deliverGlobalKeyDown(escape);
    EXPECT_EQ(cancellations, 0); // not on the monitor's thread of delivery
    EXPECT_TRUE(overlay->isActive());
    monitors->deliverGlobalKeyDown(escape); // a second press before the main thread ran
    queue->runPending();
    EXPECT_EQ(cancellations, 1);
    EXPECT_TRUE(selections.empty());
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, EscapeDeliveredOnAnotherThreadReachesTheMainQueue)
{
    begin();
    std::thread keyboard([&] { monitors->deliverGlobalKeyDown(escape); });
    keyboard.join();
    EXPECT_EQ(cancellations, 0);
    EXPECT_TRUE(queue->runUntil([&] { return cancellations == 1; }));
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, EscapeInOurOwnWindowsIsSwallowedAndOtherKeysPassThrough)
{
    begin();
    EXPECT_FALSE(monitors->deliverLocalKeyDown(KeyEvent {36}));
    EXPECT_TRUE(overlay->isActive());
    EXPECT_TRUE(monitors->deliverLocalKeyDown(escape));
    EXPECT_EQ(cancellations, 1);
    expectNothingLeft();
    // With the overlay gone, Escape is the application's again.
    EXPECT_FALSE(monitors->deliverLocalKeyDown(escape));

    begin();
    panels->pressEscape(); // while a panel has the keyboard
    EXPECT_EQ(cancellations, 2);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, CancelIsSilentAndLateEventsOfThatSelectionDoNothing)
{
    begin();
    monitors->deliverGlobalKeyDown(escape); // already on its way to the main thread
    const auto shown = panels->shown();
    overlay->cancel();
    expectNothingLeft();

    shown[0]->handlers.onMouseUp({120, 115});
    shown[0]->handlers.onCancel();
    queue->runPending();
    EXPECT_TRUE(selections.empty());
    EXPECT_EQ(cancellations, 0);
}

TEST_F(SelectionOverlayTest, AnEscapeOfAnEarlierSelectionDoesNotEndTheNextOne)
{
    begin();
    monitors->deliverGlobalKeyDown(escape);
    overlay->cancel();
    begin(); // before the main thread got to the Escape
    queue->runPending();
    EXPECT_TRUE(overlay->isActive());
    EXPECT_EQ(cancellations, 0);
    panels->click({120, 115});
    EXPECT_EQ(selections.size(), 1u);
}

TEST_F(SelectionOverlayTest, ASelectionCallbackMayStartTheNextSelection)
{
    int secondCancellations = 0;
    overlay->begin(
        [&](const CapturedContext&) {
            overlay->begin([this](const CapturedContext& c) { selections.push_back(c); }, [&] { ++secondCancellations; });
        },
        [] {});
    panels->click({120, 115});
    EXPECT_TRUE(overlay->isActive());
    EXPECT_EQ(panels->onScreen().size(), 2u);

    monitors->deliverLocalKeyDown(escape);
    EXPECT_EQ(secondCancellations, 1);
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, WithoutUsableScreensOnlyEscapeEndsTheSelection)
{
    screens->removeAll();
    begin();
    EXPECT_TRUE(panels->shown().empty());
    EXPECT_TRUE(overlay->isActive());
    monitors->deliverGlobalKeyDown(escape);
    queue->runPending();
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
