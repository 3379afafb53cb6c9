#include "app/core/Text.h"
#include "app/selection/AccessibilitySelectionHeuristics.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeScreens.h"
#include "fakes/FakeWindowList.h"

#include <gtest/gtest.h>

#include <array>

namespace zorvane {
namespace {

using fakes::FakeAccessibilityTree;
using NodeID = FakeAccessibilityTree::NodeID;
using Kind = CapturedContext::Kind;

constexpr ProcessID ownPID = 100;
constexpr ProcessID notesPID = 200;

class AccessibilitySelectionTest : public ::testing::Test {
protected:
    AccessibilitySelectionTest()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 1440, 900));
        windows->addWindow(notesPID, Rect(0, 0, 1440, 900));
        app = tree->addApplication(notesPID, "Notas");
        window = tree->addElement(app, "AXWindow", Rect(0, 0, 1440, 900));
        tree->setHit(notesPID, window);
    }

    std::optional<CapturedContext> at(Point p) { return service.context(p); }

    // A titled element, so tests can tell which one was chosen.
    NodeID add(NodeID parent, const std::string& role, const Rect& frame, const std::string& title)
    {
        return tree->addElement(parent, role, frame, {{"AXTitle", title}});
    }

    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeWindowList> windows = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<FakeAccessibilityTree> tree = std::make_shared<FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    AccessibilitySelectionService service {permissions, windows, tree, screens, ownPID};
    NodeID app = 0;
    NodeID window = 0;
};

TEST_F(AccessibilitySelectionTest, AButtonIsChosenOverTheGroupAndWindowAroundIt)
{
    const NodeID group = tree->addElement(window, "AXGroup", Rect(20, 20, 1400, 850));
    const NodeID button = tree->addElement(group, "AXButton", Rect(100, 100, 200, 40),
        {{"AXRoleDescription", std::string("botón")}, {"AXTitle", std::string("  Guardar ")}});
    tree->addElement(button, "AXStaticText", Rect(110, 110, 60, 16), {{"AXValue", std::string("Guardar cambios")}});

    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->appName, "Notas");
    EXPECT_EQ(context->role, "botón");
    EXPECT_EQ(context->title, "Guardar");
    EXPECT_EQ(context->content, "Guardar cambios");
    EXPECT_EQ(context->kind, Kind::text);
    EXPECT_EQ(context->screenRect, Rect(100, 100, 200, 40));
    EXPECT_EQ(context->imageData, std::nullopt);
    EXPECT_EQ(tree->elementAtPointRequests.at(0).first, notesPID);
    // Every lookup is a new selection: late images must not land on an earlier one.
    const auto again = at({120, 115});
    ASSERT_TRUE(again);
    EXPECT_NE(again->id, context->id);
}

TEST_F(AccessibilitySelectionTest, WithoutPermissionNoOtherApplicationIsAsked)
{
    permissions->accessibility = false;
    add(window, "AXButton", Rect(100, 100, 200, 40), "Guardar");
    EXPECT_EQ(at({120, 115}), std::nullopt);
    EXPECT_EQ(windows->readCount, 0u);
    EXPECT_EQ(tree->elementAtPointCount, 0u);
}

TEST_F(AccessibilitySelectionTest, OnlyOrdinaryWindowsOfOtherApplicationsAreLookedInto)
{
    add(window, "AXButton", Rect(100, 100, 200, 40), "Guardar");
    const ProcessID dockPID = 300;
    tree->setHit(dockPID, tree->addApplication(dockPID, "Dock"));

    windows->windows = std::vector<WindowInfo> {
        {ownPID, 0, Rect(0, 0, 1440, 900)},       // our own panel
        {dockPID, 20, Rect(0, 0, 1440, 900)},     // a layer above ordinary windows
        {std::nullopt, 0, Rect(0, 0, 1440, 900)}, // owner unknown
        {dockPID, std::nullopt, Rect(0, 0, 1440, 900)},
        {dockPID, 0, std::nullopt},
        {dockPID, 0, Rect(500, 500, 100, 100)},   // not under the point
        {notesPID, 0, Rect(0, 0, 1440, 900)},
    };
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "Guardar");

    windows->windows = std::vector<WindowInfo> {{ownPID, 0, Rect(0, 0, 1440, 900)}, {dockPID, 20, Rect(0, 0, 1440, 900)}};
    EXPECT_EQ(at({120, 115}), std::nullopt);
    windows->windows = std::nullopt;
    EXPECT_EQ(at({120, 115}), std::nullopt);

    // An application that does not answer.
    windows->windows = std::vector<WindowInfo> {{notesPID, 0, Rect(0, 0, 1440, 900)}};
    tree->setHit(notesPID, std::nullopt);
    EXPECT_EQ(at({120, 115}), std::nullopt);
}

TEST_F(AccessibilitySelectionTest, TheDescentIgnoresSliversAndFollowsTheDeepestChain)
{
    // A 1-point-wide rule under the pointer leads nowhere.
    const NodeID sliver = add(window, "AXImage", Rect(120, 0, 1, 900), "regla");
    const NodeID ruled = tree->addElement(sliver, "AXGroup", Rect(100, 100, 100, 100));
    const NodeID ruledInner = tree->addElement(ruled, "AXGroup", Rect(105, 105, 50, 50));
    add(ruledInner, "AXImage", Rect(110, 110, 20, 20), "dentro de la regla");
    // A shallow small chain and a deeper, larger one: depth wins over size.
    add(window, "AXButton", Rect(100, 100, 60, 30), "poco profundo");
    const NodeID panel = tree->addElement(window, "AXGroup", Rect(50, 50, 300, 300));
    const NodeID row = tree->addElement(panel, "AXGroup", Rect(60, 90, 280, 60));
    add(row, "AXLink", Rect(100, 100, 100, 30), "profundo");

    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "profundo");
}

TEST_F(AccessibilitySelectionTest, EquallyDeepChainsPreferTheSmallerFirstChildThenListOrder)
{
    const NodeID big = tree->addElement(window, "AXGroup", Rect(0, 0, 400, 400));
    add(big, "AXButton", Rect(100, 100, 50, 50), "en el grande");
    const NodeID small = tree->addElement(window, "AXGroup", Rect(50, 50, 200, 200));
    add(small, "AXButton", Rect(100, 100, 50, 50), "en el pequeño");
    auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "en el pequeño");

    tree->removeAttribute(small, "AXPosition"); // leaves two equal chains
    const NodeID twin = tree->addElement(window, "AXGroup", Rect(0, 0, 400, 400));
    add(twin, "AXButton", Rect(100, 100, 50, 50), "segundo gemelo");
    context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "en el grande");
}

TEST_F(AccessibilitySelectionTest, VisibleChildrenAreSearchedFirstWhenThereAreAny)
{
    add(window, "AXButton", Rect(100, 100, 60, 30), "oculto");
    const NodeID shown = add(window, "AXLink", Rect(100, 100, 100, 30), "visible");
    tree->setAttribute(window, "AXVisibleChildren", std::vector<AccessibilityElement> {tree->element(shown)});
    auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "visible");

    tree->setAttribute(window, "AXVisibleChildren", std::vector<AccessibilityElement> {});
    context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "oculto");
}

TEST_F(AccessibilitySelectionTest, APictureInsideALinkIsThePicture)
{
    const NodeID link = add(window, "AXLink", Rect(100, 100, 300, 200), "enlace");
    add(link, "AXImage", Rect(110, 110, 280, 180), "foto");
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "foto");
    EXPECT_EQ(context->kind, Kind::image);
}

TEST_F(AccessibilitySelectionTest, NothingCoveringMostOfTheDisplayIsChosen)
{
    add(window, "AXImage", Rect(0, 0, 1300, 800), "fondo"); // 80 % of the display
    EXPECT_EQ(at({120, 115}), std::nullopt);
}

TEST_F(AccessibilitySelectionTest, OnNoDisplayEveryCandidateIsTooLarge)
{
    windows->windows = std::vector<WindowInfo> {{notesPID, 0, Rect(2000, 0, 500, 500)}};
    add(window, "AXButton", Rect(2100, 100, 20, 20), "fuera");
    EXPECT_EQ(at({2105, 105}), std::nullopt);
}

TEST_F(AccessibilitySelectionTest, CandidatesWhoseFrameCannotBeReadAreSkipped)
{
    const NodeID link = add(window, "AXLink", Rect(100, 100, 300, 200), "enlace");
    const NodeID picture = add(link, "AXImage", Rect(110, 110, 100, 100), "foto");
    tree->setHit(notesPID, picture);
    auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "foto");

    tree->setAttribute(picture, "AXSize", std::string("100x100")); // not a size value
    context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "enlace");

    tree->setAttribute(picture, "AXSize", Size {1.5, 1.5});
    context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "enlace");
}

TEST_F(AccessibilitySelectionTest, OnlyFiveAncestorsAreConsidered)
{
    // Seven nested groups; the hit is the innermost. The outermost, six levels up, is a picture
    // that would win if it were looked at.
    NodeID parent = window;
    std::vector<NodeID> chain;
    for (int i = 0; i < 7; ++i) {
        parent = add(parent, i == 0 ? "AXImage" : "AXGroup", Rect(100, 100, 100 - i, 100 - i), "nivel " + std::to_string(i));
        chain.push_back(parent);
    }
    tree->setHit(notesPID, chain[6]);
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "nivel 6");
    EXPECT_EQ(tree->readsOf(chain[0]), 0u);
}

TEST_F(AccessibilitySelectionTest, TheDescentStopsFortyEightLevelsDown)
{
    NodeID parent = window;
    std::vector<NodeID> chain;
    for (int i = 0; i < 60; ++i) {
        parent = add(parent, "AXGroup", Rect(100, 100, 200 - i, 200 - i), "nivel " + std::to_string(i + 1));
        chain.push_back(parent);
    }
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "nivel 48");
    EXPECT_EQ(tree->readsOf(chain[49]), 0u); // chain[48] is read only for the text it gives its parent
}

TEST_F(AccessibilitySelectionTest, OnlyTheTwelveSmallestChildrenUnderThePointAreFollowed)
{
    for (int i = 0; i < 12; ++i) add(window, "AXButton", Rect(100, 100, 40 + i, 40), "botón " + std::to_string(i));
    // The thirteenth by size hides a deeper chain that is never looked into.
    const NodeID large = add(window, "AXGroup", Rect(100, 100, 80, 80), "grande");
    const NodeID inner = add(large, "AXGroup", Rect(100, 100, 60, 60), "interior");
    add(inner, "AXButton", Rect(100, 100, 30, 30), "escondido");
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->title, "botón 0");
    EXPECT_EQ(tree->readsOf(inner), 0u);
}

TEST_F(AccessibilitySelectionTest, OverlappingLayersAtEveryLevelDoNotFreezeTheLookup)
{
    // Two full-size layers at each of 48 levels, each pair the children of both layers above:
    // 2^48 paths. Shared children keep the fake small; the service cannot tell.
    std::vector<std::array<NodeID, 2>> levels;
    for (int level = 0; level < 48; ++level) {
        const NodeID parent = level == 0 ? window : levels.back()[0];
        levels.push_back({add(parent, "AXGroup", Rect(100, 100, 500 - level, 500 - level), "capa"),
            add(parent, "AXGroup", Rect(100, 100, 500 - level, 500 - level), "capa")});
        if (level > 0) {
            const std::vector<AccessibilityElement> both {tree->element(levels.back()[0]), tree->element(levels.back()[1])};
            tree->setAttribute(levels[level - 1][0], "AXChildren", both);
            tree->setAttribute(levels[level - 1][1], "AXChildren", both);
        }
    }
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_LT(tree->attributeReadCount, 20000u);
}

TEST_F(AccessibilitySelectionTest, ContentComesFromTheValueOrFromTheChildrensText)
{
    const NodeID field = tree->addElement(window, "AXTextField", Rect(100, 100, 300, 30), {{"AXValue", std::string("hola")}});
    tree->addElement(field, "AXStaticText", Rect(100, 100, 10, 10), {{"AXValue", std::string("ignorado")}});
    tree->setAttribute(field, "AXChildren", std::vector<AccessibilityElement> {});
    auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content, "hola");

    tree->setAttribute(field, "AXValue", std::string(""));
    const NodeID cell = tree->addElement(window, "AXCell", Rect(100, 200, 300, 30));
    tree->setHit(notesPID, cell);
    tree->addElement(cell, {{"AXValue", std::string("  uno ")}});
    tree->addElement(cell, {{"AXTitle", std::string("")}, {"AXDescription", std::string("dos")}});
    const NodeID wrapper = tree->addElement(cell);
    tree->addElement(wrapper, {{"AXTitle", std::string("tres")}});
    const NodeID deep = tree->addElement(wrapper);
    tree->addElement(deep, {{"AXTitle", std::string("demasiado hondo")}});
    tree->addElement(cell, {{"AXValue", std::string("   ")}});
    context = at({120, 215});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content, "uno\ndos\ntres");
}

TEST_F(AccessibilitySelectionTest, GatheredTextStopsAtTwentyFourChildrenAndEighteenHundredCharacters)
{
    const NodeID list = tree->addElement(window, "AXList", Rect(100, 100, 300, 300));
    for (int i = 0; i < 30; ++i) tree->addElement(list, {{"AXValue", std::string("f") + std::to_string(i)}});
    auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content.find("f24"), std::string::npos);
    EXPECT_NE(context->content.find("f23"), std::string::npos);

    const NodeID article = tree->addElement(window, "AXGroup", Rect(100, 500, 300, 300));
    tree->setHit(notesPID, article);
    // Each "é" is two code points but one character.
    std::string paragraph;
    for (int i = 0; i < 1000; ++i) paragraph += "e\xCC\x81";
    for (int i = 0; i < 3; ++i) tree->addElement(article, {{"AXValue", paragraph}});
    context = at({120, 515});
    ASSERT_TRUE(context);
    EXPECT_EQ(Text::characterCount(context->content), 1800u + 1u); // 1000 + 800, one line feed
}

TEST_F(AccessibilitySelectionTest, ContentIsCutToEightThousandCharacters)
{
    std::string text;
    for (int i = 0; i < 9000; ++i) text += "a\xCC\x8A"; // å as two code points
    tree->addElement(window, "AXTextArea", Rect(100, 100, 300, 300), {{"AXValue", text}});
    const auto context = at({120, 115});
    ASSERT_TRUE(context);
    EXPECT_EQ(Text::characterCount(context->content), 8000u);
    EXPECT_EQ(context->content.size(), 8000u * 3);
}

TEST_F(AccessibilitySelectionTest, ANumericValueIsTextInItsDecimalForm)
{
    const NodeID check = tree->addElement(window, "AXCheckBox", Rect(100, 100, 20, 20), {{"AXValue", 1.0}});
    auto context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content, "1");
    EXPECT_EQ(context->kind, Kind::text);

    tree->setAttribute(check, "AXValue", 0.25);
    context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content, "0.25");

    tree->setAttribute(check, "AXValue", Point {1, 2}); // neither text nor number: no content
    context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->content, "");
    EXPECT_EQ(context->kind, Kind::interface);
}

TEST_F(AccessibilitySelectionTest, KindFollowsTheRoleInEnglishOrSpanishThenTheContent)
{
    const NodeID element = tree->addElement(window, "AXUnknown", Rect(100, 100, 40, 40));
    const auto kindWith = [&](std::optional<std::string> description, std::optional<std::string> value) {
        if (description)
            tree->setAttribute(element, "AXRoleDescription", *description);
        else
            tree->removeAttribute(element, "AXRoleDescription");
        if (value)
            tree->setAttribute(element, "AXValue", *value);
        else
            tree->removeAttribute(element, "AXValue");
        const auto context = at({110, 110});
        EXPECT_TRUE(context);
        return context ? context->kind : Kind::interface;
    };
    EXPECT_EQ(kindWith("Imagen", "texto alternativo"), Kind::image);
    EXPECT_EQ(kindWith("image", std::nullopt), Kind::image);
    EXPECT_EQ(kindWith("campo de texto", std::nullopt), Kind::text);
    EXPECT_EQ(kindWith("Text field", std::nullopt), Kind::text);
    EXPECT_EQ(kindWith("botón", "Aceptar"), Kind::text);
    EXPECT_EQ(kindWith("botón", std::nullopt), Kind::interface);
}

TEST_F(AccessibilitySelectionTest, RoleTitleAndApplicationNameFallBackInOrder)
{
    const NodeID element = tree->addElement(window, "AXButton", Rect(100, 100, 40, 40),
        {{"AXTitle", std::string(" \n ")}, {"AXDescription", std::string("")}, {"AXHelp", std::string(" Ayuda ")}});
    auto context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->role, "AXButton");
    EXPECT_EQ(context->title, "Ayuda");

    tree->removeAttribute(element, "AXHelp");
    tree->removeAttribute(element, "AXRole");
    context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->role, "Elemento");
    EXPECT_EQ(context->title, "");

    const ProcessID nameless = 400;
    windows->windows = std::vector<WindowInfo> {{nameless, 0, Rect(0, 0, 1440, 900)}};
    const NodeID other = tree->addApplication(nameless, std::nullopt);
    tree->setHit(nameless, tree->addElement(other, "AXButton", Rect(100, 100, 40, 40)));
    context = at({110, 110});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->appName, "Aplicación");
}

TEST(AccessibilityScoring, RolesSizesAndDepthsRankAsAPersonMeansThem)
{
    namespace H = AccessibilitySelectionHeuristics;
    const Rect display(0, 0, 1440, 900);
    const Rect small(0, 0, 200, 40);
    EXPECT_EQ(H::score("AXButton", 1, small, display), 4120);
    EXPECT_EQ(H::score("AXGroup", 2, Rect(0, 0, 1400, 850), display), 2100 + 340 - 7000);
    EXPECT_EQ(H::score("AXWindow", 3, display, display), -8000 + 160 - 7000);
    EXPECT_EQ(H::score("AXImage", 0, small, display), 5700);
    EXPECT_EQ(H::score("AXLink", 1, small, display), 4520);
    EXPECT_EQ(H::score("AXSplitGroup", 0, small, display), -8000 + 700);
    EXPECT_EQ(H::score("AXScrollArea", 0, small, display), -8000 + 700);
    EXPECT_EQ(H::score("AXWebArea", 0, small, display), -8000 + 700);
    EXPECT_EQ(H::score("AXStaticText", 4, small, display), 3200);
    EXPECT_EQ(H::score("AXTextArea", 9, small, display), 3200);
    EXPECT_EQ(H::score("AXArticle", 0, small, display), 2800);
    EXPECT_EQ(H::score("AXCell", 0, small, display), 2300);

    // Size bands: a quarter, nearly a half, nearly three quarters of the display.
    EXPECT_EQ(H::score("AXCell", 4, Rect(0, 0, 720, 450), display), 1600 - 1200);
    EXPECT_EQ(H::score("AXCell", 4, Rect(0, 0, 1440, 405), display), 1600 - 3000);
    EXPECT_EQ(H::score("AXImage", 0, Rect(0, 0, 1440, 648), display), 5700 - 7000);
    EXPECT_EQ(H::score("AXImage", 0, Rect(0, 0, 1440, 647), display), 5700 - 3000);
    // A display of no area counts as 1 square point.
    EXPECT_EQ(H::score("AXButton", 0, Rect(0, 0, 2, 2), Rect(0, 0, 0, 0)), 3600 + 700 - 7000);
}

} // namespace
} // namespace zorvane
