#include "app/core/Text.h"
#include "app/selection/SelectionCanvasLayout.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

namespace L = SelectionCanvasLayout;

// 6 points a character for labels, 7 for the hint: enough to tell the fonts apart.
double measure(const std::string& text, const L::Font& font)
{
    return static_cast<double>(Text::characterCount(text)) * (font == L::hintFont ? 7 : 6);
}

Rect pillFor(const Rect& highlight, const std::string& label = "Guardar", Size canvas = {1440, 900})
{
    const auto drawing = L::layout(canvas, highlight, label, measure);
    EXPECT_TRUE(drawing.highlight);
    return drawing.highlight ? drawing.highlight->labelPill.rect : Rect();
}

TEST(SelectionCanvasLayout, TheVeilCoversTheCanvasAndTheHintIsCentred)
{
    const auto drawing = L::layout({1440, 900}, std::nullopt, "Área visual", measure);
    EXPECT_EQ(drawing.veil, Rect(0, 0, 1440, 900));
    EXPECT_FALSE(drawing.highlight);
    EXPECT_EQ(drawing.hint.text, "Clic: automático · Arrastra: área exacta · Esc: salir");
    EXPECT_EQ(drawing.hint.pill.rect.midX(), 720);
}

TEST(SelectionCanvasLayout, TheLabelStaysOnTheCanvasAboveOrBelowTheHighlight)
{
    EXPECT_EQ(pillFor(Rect(100, 200, 300, 50)).minY(), 195 - 38); // above when there is room
    EXPECT_EQ(pillFor(Rect(100, 51, 300, 50)).minY(), 51 - 5 + 60 + 10); // grown top at 46: below
    EXPECT_EQ(pillFor(Rect(100, 52, 300, 50)).minY(), 52 - 5 - 38);
    EXPECT_EQ(pillFor(Rect(100, 10, 300, 880)).minY(), 900 - 38); // filling the height
    EXPECT_EQ(pillFor(Rect(0, 200, 300, 50)).minX(), 16);
    EXPECT_EQ(pillFor(Rect(1400, 200, 40, 50)).maxX(), 1440 - 16);
    // The pill fits the text, within the canvas but never narrower than 120.
    EXPECT_EQ(pillFor(Rect(100, 200, 300, 50), "Hola").width(), 4 * 6 + 24);
    const std::string longLabel(80, 'x');
    EXPECT_EQ(pillFor(Rect(10, 200, 30, 50), longLabel, {400, 900}).width(), 400 - 32);
    EXPECT_EQ(pillFor(Rect(10, 200, 30, 50), longLabel, {100, 900}).width(), 120);

    std::string label;
    for (int i = 0; i < 100; ++i) label += "n\xCC\x83"; // ñ as two code points
    const auto drawing = L::layout({1440, 900}, Rect(100, 200, 300, 50), label, measure);
    ASSERT_TRUE(drawing.highlight);
    EXPECT_EQ(Text::characterCount(drawing.highlight->labelText), 80u);
    EXPECT_EQ(drawing.highlight->labelPill.rect.width(), 80 * 6 + 24);
}

TEST(SelectionCanvasHighlight, ShowsOnlyThePartOnTheScreenInItsOwnCoordinates)
{
    const DisplayGeometry right {Rect(1440, 0, 1440, 900), Rect(1440, 0, 1440, 900)};
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 200, 40), right), Rect(0, 500, 100, 40));
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 101, 40), right), std::nullopt);
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 102, 40), right), Rect(0, 500, 2, 40));
    EXPECT_EQ(L::canvasHighlight(Rect(0, 0, 100, 100), right), std::nullopt);

    const DisplayGeometry scaled {Rect(0, 0, 2880, 1800), Rect(0, 0, 1440, 900)};
    EXPECT_EQ(L::canvasHighlight(Rect(100, 50, 200, 80), scaled), Rect(200, 100, 400, 160));
    const DisplayGeometry empty {Rect(0, 0, 1440, 900), Rect(0, 0, 0, 0)};
    EXPECT_EQ(L::canvasHighlight(Rect(100, 50, 200, 80), empty), std::nullopt);
}

} // namespace
} // namespace zorvane
