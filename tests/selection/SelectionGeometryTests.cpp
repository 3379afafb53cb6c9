#include "app/core/Text.h"
#include "app/selection/ScreenCoordinates.h"
#include "app/selection/SelectionCanvasLayout.h"
#include "fakes/FakeWindowSystem.h"

#include <gtest/gtest.h>

// The pure geometry of the overlay: which display a rectangle belongs to, and what a canvas draws.
namespace zorvane {
namespace {

namespace SC = ScreenCoordinates;
namespace L = SelectionCanvasLayout;

TEST(ScreenCoordinates, RectanglesAreCutToOneDisplayAndSliversDropped)
{
    fakes::FakeScreens screens;
    screens.addScreen(Rect(0, 0, 1440, 900));
    screens.addScreen(Rect(1440, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1439.5, 899.5}), Rect(0, 0, 1440, 900));
    EXPECT_EQ(SC::quartzBounds(screens, {1440, 100}), Rect(1440, 0, 1440, 900)) << "a far edge belongs to the next display";
    EXPECT_EQ(SC::quartzBounds(screens, {100, 900}), std::nullopt);

    const struct {
        Rect rect;
        std::optional<Point> around;
        std::optional<Rect> cut;
    } cases[] = {
        // Around a point: that point's display, even when most of the rectangle is elsewhere.
        {Rect(1400, 100, 400, 100), Point {1420, 150}, Rect(1400, 100, 40, 100)},
        {Rect(1438.5, 100, 50, 50), Point {1439, 120}, std::nullopt}, // less than 2 points wide
        {Rect(1438, 100, 50, 50), Point {1439, 120}, Rect(1438, 100, 2, 50)},
        // Else by overlap; on a tie the earlier display.
        {Rect(1400, 100, 400, 100), std::nullopt, Rect(1440, 100, 360, 100)},
        {Rect(1340, 100, 200, 100), std::nullopt, Rect(1340, 100, 100, 100)},
        {Rect(100, 898.5, 50, 50), std::nullopt, std::nullopt},
        {Rect(100, 898, 50, 50), std::nullopt, Rect(100, 898, 50, 2)},
        {Rect(3000, 100, 200, 100), std::nullopt, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.around ? SC::clampedQuartzRect(screens, c.rect, *c.around) : SC::clampedQuartzRect(screens, c.rect), c.cut)
            << c.rect.minX() << "," << c.rect.minY();
    screens.described.clear(); // a screen without a display number is not used
    screens.addScreen(Rect(0, 0, 1440, 900), false);
    EXPECT_EQ(SC::clampedQuartzRect(screens, Rect(10, 10, 100, 100), Point {20, 20}), std::nullopt);
}

// 6 points a character for labels, 7 for the hint: enough to tell the fonts apart.
double measure(const std::string& text, const L::Font& font)
{
    return static_cast<double>(Text::characterCount(text)) * (font == L::hintFont ? 7 : 6);
}

TEST(SelectionCanvasLayout, TheVeilCoversTheCanvasTheHintIsCentredAndTheLabelStaysOnIt)
{
    const auto bare = L::layout({1440, 900}, std::nullopt, "Área visual", measure);
    EXPECT_EQ(bare.veil, Rect(0, 0, 1440, 900));
    EXPECT_FALSE(bare.highlight);
    EXPECT_EQ(bare.hint.text, "Clic: automático · Arrastra: área exacta · Esc: salir");
    EXPECT_EQ(bare.hint.pill.rect.midX(), 720);

    std::string accented; // ñ as two code points, 100 times
    for (int i = 0; i < 100; ++i) accented += "n\xCC\x83";
    const struct {
        Rect highlight;
        std::string label;
        Rect pill;
    } cases[] = {
        {Rect(100, 200, 300, 50), "Guardar", Rect(95, 157, 66, 28)},       // above when there is room
        {Rect(100, 51, 300, 50), "Guardar", Rect(95, 116, 66, 28)},        // grown top at 46: below
        {Rect(100, 10, 300, 880), "Guardar", Rect(95, 862, 66, 28)},       // filling the height
        {Rect(0, 200, 300, 50), "Guardar", Rect(16, 157, 66, 28)},         // kept inside
        {Rect(100, 200, 300, 50), accented, Rect(95, 157, 80 * 6 + 24, 28)}, // 80 characters
    };
    for (const auto& c : cases) {
        const auto drawing = L::layout({1440, 900}, c.highlight, c.label, measure);
        ASSERT_TRUE(drawing.highlight);
        EXPECT_EQ(drawing.highlight->labelPill.rect, c.pill) << c.highlight.minX() << "," << c.highlight.minY() << " " << c.label;
    }
}

} // namespace
} // namespace zorvane
