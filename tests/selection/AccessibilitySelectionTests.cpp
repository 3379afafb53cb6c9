#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <array>

namespace zorvane {
namespace {

using NodeID = fakes::FakeAccessibilityTree::NodeID;

constexpr ProcessID ownPID = 100;
constexpr ProcessID notesPID = 200;

// A notes window filling a 1440 × 900 display; the element under the pointer is the window unless
// a test says otherwise.
class AccessibilitySelectionTest : public ::testing::Test {
protected:
    AccessibilitySelectionTest()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 1440, 900));
        windows->addWindow(notesPID, Rect(0, 0, 1440, 900));
        window = tree->addElement(tree->addApplication(notesPID, "Notas"), "AXWindow", Rect(0, 0, 1440, 900));
        tree->setHit(notesPID, window);
    }

    std::optional<CapturedContext> at(Point p = {120, 115}) { return service.context(p); }
    CapturedContext pick(Point p = {120, 115})
    {
        CapturedContext nothing;
        nothing.title = "(nothing chosen)";
        return at(p).value_or(nothing);
    }
    // A titled element, so tests can tell which one was chosen.
    NodeID add(NodeID parent, const std::string& role, const Rect& frame, const std::string& title)
    {
        return tree->addElement(parent, role, frame, {{"AXTitle", title}});
    }

    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeWindowList> windows = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<fakes::FakeAccessibilityTree> tree = std::make_shared<fakes::FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    AccessibilitySelectionService service {permissions, windows, tree, screens, clock, ownPID};
    NodeID window = 0;
};

TEST_F(AccessibilitySelectionTest, AButtonIsChosenOverTheGroupAndWindowAroundIt)
{
    const NodeID group = tree->addElement(window, "AXGroup", Rect(20, 20, 1400, 850));
    const NodeID button = tree->addElement(group, "AXButton", Rect(100, 100, 200, 40),
        {{"AXRoleDescription", std::string("botón")}, {"AXTitle", std::string("  Guardar ")}});
    tree->addElement(button, "AXStaticText", Rect(110, 110, 60, 16), {{"AXValue", std::string("Guardar cambios")}});
    const CapturedContext context = pick();
    EXPECT_EQ(context.appName + " · " + context.role + " · " + context.title, "Notas · botón · Guardar");
    EXPECT_EQ(context.content, "Guardar cambios");
    EXPECT_EQ(context.screenRect, Rect(100, 100, 200, 40));
    EXPECT_NE(pick().id, context.id) << "a late picture must not land on an earlier selection";
}

TEST_F(AccessibilitySelectionTest, OnlyOrdinaryWindowsOfOtherApplicationsAreLookedIntoAndOnlyWithPermission)
{
    add(window, "AXButton", Rect(100, 100, 200, 40), "Guardar");
    const ProcessID dockPID = 300;
    tree->setHit(dockPID, tree->addApplication(dockPID, "Dock"));
    const Rect all(0, 0, 1440, 900);
    // Our own panel, a layer above ordinary windows, unknown owner, layer or bounds, not under the point.
    windows->windows = std::vector<WindowInfo> {{ownPID, 0, all}, {dockPID, 20, all}, {std::nullopt, 0, all}, {dockPID, std::nullopt, all},
        {dockPID, 0, std::nullopt}, {dockPID, 0, Rect(500, 500, 100, 100)}, {notesPID, 0, all}};
    EXPECT_EQ(pick().title, "Guardar");

    windows->windows = std::vector<WindowInfo> {{ownPID, 0, all}, {dockPID, 20, all}};
    EXPECT_EQ(at(), std::nullopt);
    windows->windows = std::nullopt; // no window list
    EXPECT_EQ(at(), std::nullopt);
    windows->windows = std::vector<WindowInfo> {{notesPID, 0, all}};
    tree->setHit(notesPID, std::nullopt); // an application that does not answer
    EXPECT_EQ(at(), std::nullopt);

    tree->setHit(notesPID, window);
    permissions->accessibility = false;
    const std::size_t calls = tree->callCount();
    EXPECT_EQ(at(), std::nullopt);
    EXPECT_EQ(tree->callCount(), calls) << "no application is asked without permission";
}

TEST_F(AccessibilitySelectionTest, TheDeepestUsefulElementIsChosenNotSliversBackgroundsOrContainers)
{
    // A 1-point-wide rule under the pointer leads nowhere; depth wins over size.
    const NodeID rule = add(window, "AXImage", Rect(120, 0, 1, 900), "regla");
    add(tree->addElement(rule, "AXGroup", Rect(100, 100, 100, 100)), "AXImage", Rect(110, 110, 20, 20), "dentro de la regla");
    add(window, "AXButton", Rect(100, 100, 60, 30), "poco profundo");
    const NodeID panel = tree->addElement(window, "AXGroup", Rect(50, 50, 300, 300));
    add(tree->addElement(panel, "AXGroup", Rect(60, 90, 280, 60)), "AXLink", Rect(100, 100, 100, 30), "profundo");
    EXPECT_EQ(pick().title, "profundo");
    // Visible children, when there are any, are searched instead.
    const NodeID shown = add(window, "AXButton", Rect(100, 100, 30, 30), "visible");
    tree->setAttribute(window, "AXVisibleChildren", std::vector<AccessibilityElement> {tree->element(shown)});
    EXPECT_EQ(pick().title, "visible");

    // A picture inside a link is the picture, unless its frame cannot be read.
    const NodeID link = add(window, "AXLink", Rect(100, 100, 300, 200), "enlace");
    const NodeID picture = add(link, "AXImage", Rect(110, 110, 100, 100), "foto");
    tree->setHit(notesPID, picture);
    EXPECT_EQ(pick().title, "foto");
    tree->setAttribute(picture, "AXSize", std::string("100x100"));
    EXPECT_EQ(pick().title, "enlace");

    // Nothing covering 80 % of the display, no scroll area, nothing off every display.
    const NodeID background = add(window, "AXImage", Rect(0, 0, 1300, 800), "fondo");
    tree->setHit(notesPID, background);
    EXPECT_EQ(at(), std::nullopt);
    tree->setHit(notesPID, add(background, "AXScrollArea", Rect(100, 100, 200, 40), "desplazable"));
    EXPECT_EQ(at(), std::nullopt);
    windows->windows = std::vector<WindowInfo> {{notesPID, 0, Rect(2000, 0, 500, 500)}};
    tree->setHit(notesPID, add(window, "AXButton", Rect(2100, 100, 20, 20), "fuera"));
    EXPECT_EQ(at({2105, 105}), std::nullopt);
}

TEST_F(AccessibilitySelectionTest, TheSearchIsBoundedUpwardsAndOverTreesThatBranchAtEveryLevel)
{
    // Five ancestors at most: the seventh level's picture, which would win, is never read.
    std::vector<NodeID> up {window};
    for (int i = 0; i < 7; ++i) up.push_back(add(up.back(), i == 0 ? "AXImage" : "AXGroup", Rect(100, 100, 100 - i, 100 - i), "arriba"));
    tree->setHit(notesPID, up.back());
    EXPECT_TRUE(at());
    EXPECT_EQ(tree->readsOf(up[1]), 0u);

    // Two full-size layers at each of 48 levels, each pair the children of both above: 2^48 paths.
    std::vector<std::array<NodeID, 2>> levels;
    for (int level = 0; level < 48; ++level) {
        const NodeID parent = level == 0 ? window : levels.back()[0];
        const Rect layer(100, 100, 500 - level, 500 - level);
        levels.push_back({add(parent, "AXGroup", layer, "capa"), add(parent, "AXGroup", layer, "capa")});
        if (level == 0) continue;
        for (const NodeID above : levels[level - 1])
            tree->setAttribute(above, "AXChildren", std::vector {tree->element(levels.back()[0]), tree->element(levels.back()[1])});
    }
    tree->setHit(notesPID, levels[0][0]);
    const std::size_t calls = tree->callCount();
    EXPECT_TRUE(at());
    EXPECT_LT(tree->callCount() - calls, 20000u);
}

// What the panel's caption and title show (the content stands in for a missing title).
TEST_F(AccessibilitySelectionTest, ContentRoleTitleAndApplicationNameFallBackInOrder)
{
    // Content: the element's own value, else its children's text.
    const NodeID cell = tree->addElement(window, "AXCell", Rect(100, 100, 300, 30));
    tree->addElement(cell, {{"AXValue", std::string("  uno ")}});
    tree->addElement(cell, {{"AXTitle", std::string("")}, {"AXDescription", std::string("dos")}});
    const NodeID wrapper = tree->addElement(cell);
    tree->addElement(wrapper, {{"AXTitle", std::string("tres")}});
    tree->addElement(tree->addElement(wrapper), {{"AXTitle", std::string("demasiado hondo")}});
    tree->addElement(cell, {{"AXValue", std::string("   ")}});
    EXPECT_EQ(pick().content, "uno\ndos\ntres");
    tree->setAttribute(cell, "AXValue", std::string("propio")); // a value of its own wins
    EXPECT_EQ(pick().content, "propio");

    // Role: description, else the platform role, else "Elemento"; title: title, description, help.
    const NodeID button = tree->addElement(window, "AXButton", Rect(100, 300, 40, 40),
        {{"AXTitle", std::string(" \n ")}, {"AXDescription", std::string("")}, {"AXHelp", std::string(" Ayuda ")}});
    EXPECT_EQ(pick({110, 310}).role + " · " + pick({110, 310}).title, "AXButton · Ayuda");
    tree->removeAttribute(button, "AXHelp");
    tree->removeAttribute(button, "AXRole");
    EXPECT_EQ(pick({110, 310}).role + " · " + pick({110, 310}).title, "Elemento · ");
    const ProcessID nameless = 400;
    windows->windows = std::vector<WindowInfo> {{nameless, 0, Rect(0, 0, 1440, 900)}};
    tree->setHit(nameless, tree->addElement(tree->addApplication(nameless, std::nullopt), "AXButton", Rect(100, 100, 40, 40)));
    EXPECT_EQ(pick({110, 110}).appName, "Aplicación");
}

TEST_F(AccessibilitySelectionTest, ALookupOverAHugeListEndsInTimeWithTheBestFoundSoFar)
{
    // Lists of a thousand rows of three cells, scrolled so that row `firstShown` is at the top, in
    // an application whose every answer takes 0.2 ms, as over the accessibility bus.
    const auto list = [&](int firstShown) {
        const double top = -24.0 * firstShown;
        const NodeID list = add(window, "AXList", Rect(0, top, 1440, 24000), "lista");
        for (int r = 0; r < 1000; ++r) {
            const NodeID row = add(list, "AXRow", Rect(0, top + 24.0 * r, 1440, 24), "fila " + std::to_string(r));
            for (int c = 0; c < 3; ++c) add(row, "AXStaticText", Rect(480.0 * c, top + 24.0 * r, 480, 24), "celda " + std::to_string(r));
        }
        return list;
    };
    const NodeID scrolledToTop = list(0);
    const NodeID scrolledDown = list(900);
    const auto timed = [&](NodeID hit, Point p) {
        tree->setHit(notesPID, hit);
        const double started = clock->uptime();
        const std::string title = pick(p).title;
        EXPECT_LE(clock->uptime() - started, AccessibilitySelectionService::lookupTimeBudget + 0.005) << title;
        return title;
    };
    tree->chargeCallsTo(clock, 0.0002);
    // Near the top the row is found in time, not the cells inside it; row 900 is never reached.
    EXPECT_EQ(timed(scrolledToTop, {100, 3 * 24 + 12}), "fila 3");
    EXPECT_EQ(timed(scrolledDown, {100, 12}), "(nothing chosen)");
    EXPECT_EQ(timed(scrolledToTop, {100, 5 * 24 + 12}), "fila 5") << "the next move is served";

    // With time to spare, the cell.
    tree->chargeCallsTo(nullptr, 0);
    tree->setHit(notesPID, scrolledDown);
    EXPECT_EQ(pick({100, 12}).title, "celda 900");
}

} // namespace
} // namespace zorvane
