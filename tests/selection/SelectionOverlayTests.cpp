#include "app/selection/SelectionOverlayCoordinator.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

constexpr KeyEvent escape {KeyEvent::escape};
const Rect saveButton(100, 100, 200, 40);
const Rect photo(600, 300, 200, 150);

// Two screens side by side; a notes window across both with a button, a photo and a panel holding
// a note and a link on the left one. The pointer starts on the button. (The real panels and
// keyboard are walked in tests/e2e_desktop.)
class SelectionOverlayTest : public ::testing::Test {
protected:
    SelectionOverlayTest()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 1440, 900));
        screens->addScreen(Rect(1440, 0, 1440, 900));
        windows->addWindow(200, Rect(0, 0, 2880, 900));
        window = tree->addElement(tree->addApplication(200, "Notas"), "AXWindow", Rect(0, 0, 2880, 900));
        tree->addElement(window, "AXButton", saveButton, {{"AXTitle", std::string("Guardar")}});
        tree->addElement(window, "AXImage", photo, {{"AXTitle", std::string("Foto")}});
        const auto group = tree->addElement(window, "AXGroup", Rect(80, 500, 700, 200));
        tree->addElement(group, "AXStaticText", Rect(100, 520, 300, 40), {{"AXValue", std::string("Nota")}});
        tree->addElement(group, "AXLink", Rect(500, 520, 200, 40), {{"AXTitle", std::string("Ayuda")}});
        tree->setHit(200, window);
        monitors->setPointerLocation({120, 115});
    }
    void begin() { overlay->begin([this](const CapturedContext& c) { selections.push_back(c); }, [this] { ++cancellations; }); }
    std::shared_ptr<fakes::FakeOverlayPanels::Record> panel(std::size_t index) { return panels->shown().at(index); }
    void expectNothingLeft()
    {
        EXPECT_TRUE(panels->onScreen().empty());
        EXPECT_EQ(monitors->installedMonitorCount(), 0u);
        EXPECT_EQ(monitors->strayRemovalCount(), 0u);
        EXPECT_FALSE(overlay->isActive());
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeWindowList> windows = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<fakes::FakeAccessibilityTree> tree = std::make_shared<fakes::FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeOverlayPanels> panels = std::make_shared<fakes::FakeOverlayPanels>();
    std::shared_ptr<fakes::FakeEventMonitors> monitors = std::make_shared<fakes::FakeEventMonitors>();
    std::shared_ptr<SelectionOverlayCoordinator> overlay = SelectionOverlayCoordinator::create(
        std::make_shared<AccessibilitySelectionService>(permissions, windows, tree, screens, clock, 100), screens, panels, monitors, queue, clock);
    fakes::FakeAccessibilityTree::NodeID window = 0;
    std::vector<CapturedContext> selections;
    int cancellations = 0;
};

TEST_F(SelectionOverlayTest, OutlinesWhatIsUnderThePointerOnEveryScreenFollowingItAndAClickSelectsIt)
{
    screens->addScreen(Rect(2880, 0, 800, 600), false); // no display number: no panel
    tree->addElement(window, "AXButton", Rect(1340, 500, 200, 40), {{"AXTitle", std::string("Dividido")}});
    monitors->setPointerLocation({1400, 510});
    begin();
    ASSERT_EQ(panels->shown().size(), 2u);
    EXPECT_EQ(panel(0)->highlightRect, Rect(1340, 500, 100, 40)) << "each screen outlines its own part, in its own coordinates";
    EXPECT_EQ(panel(1)->highlightRect, Rect(0, 500, 100, 40));
    EXPECT_EQ(panel(1)->label, "Dividido");
    // Moves look up at most every 35 ms: a slow application must not make the overlay lag.
    const std::size_t calls = tree->callCount();
    clock->advance(0.020);
    panels->user().onMove({650, 350});
    EXPECT_EQ(tree->callCount(), calls);
    clock->advance(0.020);
    panels->user().onMove({650, 350});
    EXPECT_EQ(panel(0)->highlightRect, photo);
    panels->click({650, 350});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].title + " " + std::to_string(cancellations), "Foto 0");
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, ADragOfAtLeastEightByEightOnOneScreenSelectsThatAreaElseItIsAClick)
{
    begin();
    panels->user().onMouseDown({400, 400});
    panels->user().onDrag({300, 350}); // up and to the left of where it began
    EXPECT_EQ(panel(0)->label, "Área exacta seleccionada");
    panels->user().onDrag({397, 397}); // too small: the last large enough area stays
    panels->user().onMouseUp({397, 397});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, Rect(300, 350, 100, 50));
    EXPECT_EQ(selections[0].appName + " · " + selections[0].role, "Pantalla · Selección manual");
    expectNothingLeft();
    const struct {
        Point down, dragged, up;
        Rect selected;
    } drags[] = {
        {{1300, 100}, {1600, 300}, {1600, 300}, Rect(1300, 100, 140, 200)}, // cut to the screen where it began
        {{400, 400}, {500, 405}, {500, 405}, saveButton},                   // too flat: what was outlined
        {{-50, 100}, {200, 300}, {200, 300}, saveButton},                   // begun off every screen
        {{400, 400}, {450, 420}, {600, 500}, Rect(400, 400, 200, 100)},     // released past the last move
    };
    for (const auto& d : drags) {
        begin();
        panels->user().onMouseDown(d.down);
        panels->user().onDrag(d.dragged);
        panels->user().onMouseUp(d.up);
        EXPECT_EQ(selections.back().screenRect, d.selected) << d.down.x;
    }
}

TEST_F(SelectionOverlayTest, WhereNothingIsFoundTheAreaAroundThePointerIsOfferedCutToItsScreen)
{
    windows->windows = std::vector<WindowInfo> {};
    monitors->setPointerLocation({100, 100});
    begin();
    EXPECT_EQ(panel(0)->highlightRect, Rect(0, 0, 460, 340));
    EXPECT_EQ(panel(0)->label, "Captura alrededor del cursor");
    panels->click({100, 100});
    EXPECT_EQ(selections.back().screenRect, Rect(0, 0, 460, 340));
}

TEST_F(SelectionOverlayTest, EscapeAnywhereCancelsExactlyOnceAndOtherKeysPassThrough)
{
    begin();
    monitors->deliverGlobalKeyDown(KeyEvent {12});
    EXPECT_FALSE(monitors->deliverLocalKeyDown(KeyEvent {36}));
    monitors->deliverGlobalKeyDown(escape); // in another application: handled on the main thread
    EXPECT_EQ(cancellations, 0);
    monitors->deliverGlobalKeyDown(escape); // again before the main thread ran
    queue->runPending();
    EXPECT_EQ(cancellations, 1);
    expectNothingLeft();
    begin();
    EXPECT_TRUE(monitors->deliverLocalKeyDown(escape)) << "in our own windows it is swallowed";
    EXPECT_FALSE(monitors->deliverLocalKeyDown(escape)) << "then it is the application's again";
    begin();
    panels->press(KeyEvent::escape); // the panels have the keyboard
    EXPECT_EQ(cancellations, 3);
    expectNothingLeft();
    // Nothing over a locked screen: the selection ends as given up, once begin has returned.
    panels->locked = true;
    begin();
    EXPECT_TRUE(panels->onScreen().empty());
    queue->runPending();
    EXPECT_EQ(cancellations, 4);
    expectNothingLeft();
    EXPECT_EQ(panels->closings, std::vector<bool>(4, false)) << "nothing captured follows a cancelled selection";
}

TEST_F(SelectionOverlayTest, TheKeysStepBetweenElementsAndEnterSelectsAsAClickWould)
{
    monitors->setPointerLocation({1000, 200}); // nothing there: the first key starts at the window's first element
    begin();
    const struct {
        int key;
        bool shift;
        const char* outlined;
    } steps[] = {
        {KeyEvent::tab, false, "Guardar"},
        {KeyEvent::rightArrow, false, "Foto"},    // nearer than the link, which lies further across
        {KeyEvent::downArrow, false, "Ayuda"},     // straight below rather than the note beside it
        {KeyEvent::tab, true, "Nota"},
        {KeyEvent::tab, false, "Ayuda"},
        {KeyEvent::tab, false, "Guardar"},         // round the end of the window
        {KeyEvent::leftArrow, false, "Guardar"},   // nothing that way: it stays
        {KeyEvent::pageDown, false, "Guardar"},    // nothing inside a button
    };
    for (const auto& step : steps) {
        panels->press(step.key, step.shift);
        EXPECT_EQ(panel(0)->label, step.outlined) << step.key;
    }
    panels->press(KeyEvent::pageUp);
    EXPECT_EQ(panel(0)->highlightRect, Rect(0, 0, 1440, 900)) << "the window holding it";
    panels->press(KeyEvent::pageDown);
    EXPECT_EQ(panel(0)->label, "Guardar");
    panels->press(KeyEvent::returnKey);
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].screenRect, saveButton);
    EXPECT_EQ(panels->closings, std::vector<bool> {true}) << "the capture follows";
    expectNothingLeft();
}

TEST_F(SelectionOverlayTest, LateEventsOfAReplacedCancelledOrDestroyedSelectionDoNothing)
{
    int firstCalls = 0;
    overlay->begin([&](const CapturedContext&) { ++firstCalls; }, [&] { ++firstCalls; });
    const auto first = panels->user();
    monitors->deliverGlobalKeyDown(escape); // on its way to the main thread
    begin();                                // replaces the first selection without a word
    EXPECT_EQ(panels->onScreen().size(), 2u);
    EXPECT_EQ(monitors->installedMonitorCount(), 2u);
    first.onMouseUp({120, 115});
    first.onKeyDown(escape);
    queue->runPending();
    EXPECT_TRUE(overlay->isActive());
    EXPECT_EQ(firstCalls, 0);

    monitors->deliverGlobalKeyDown(escape); // cancelling is silent, and so is what comes after
    const auto second = panels->user();
    overlay->cancel();
    expectNothingLeft();
    second.onMouseUp({120, 115});
    queue->runPending();

    overlay->begin([this](const CapturedContext&) { begin(); }, [] {}); // a callback may begin the next
    panels->click({120, 115});
    EXPECT_TRUE(monitors->deliverLocalKeyDown(escape));
    EXPECT_EQ(cancellations, 1) << "the next selection keeps its own callbacks";
    begin();
    const auto third = panels->user();
    monitors->deliverGlobalKeyDown(escape);
    overlay.reset(); // destroyed: nothing left, and late events do nothing
    EXPECT_TRUE(panels->onScreen().empty());
    EXPECT_EQ(monitors->installedMonitorCount(), 0u);
    third.onMouseUp({120, 115});
    queue->runPending();
    EXPECT_TRUE(selections.empty());
    EXPECT_EQ(cancellations, 1);
}

} // namespace
} // namespace zorvane
