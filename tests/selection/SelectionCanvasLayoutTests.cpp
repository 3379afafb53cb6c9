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

const Size screen {1440, 900};

L::Highlight highlightFor(const Rect& rect, const std::string& label = "Guardar", Size canvas = screen)
{
    const auto drawing = L::layout(canvas, rect, label, measure);
    EXPECT_TRUE(drawing.highlight);
    return drawing.highlight.value_or(L::Highlight {});
}

TEST(SelectionCanvasLayout, VeilAndHintAreAlwaysDrawnAndTheOutlineOnlyWithAHighlight)
{
    const auto drawing = L::layout(screen, std::nullopt, "Área visual", measure);
    EXPECT_EQ(drawing.veil, Rect(0, 0, 1440, 900));
    EXPECT_EQ(drawing.veilFill, (L::Fill {L::Paint::black, 0.07}));
    EXPECT_FALSE(drawing.highlight);

    const double hintWidth = 7.0 * Text::characterCount(L::hintText);
    EXPECT_EQ(drawing.hint.text, "Clic: automático · Arrastra: área exacta · Esc: salir");
    EXPECT_EQ(drawing.hint.pill, (L::RoundedRect {Rect(720 - hintWidth / 2 - 16, 22, hintWidth + 32, 32), 16}));
    EXPECT_EQ(drawing.hint.fill, (L::Fill {L::Paint::black, 0.72}));
    EXPECT_EQ(drawing.hint.textOrigin, (Point {720 - hintWidth / 2, 30}));
    EXPECT_EQ(drawing.hint.font, (L::Font {13, L::FontWeight::medium}));
}

TEST(SelectionCanvasLayout, TheOutlineIsTheHighlightGrownByFiveWithRoundedCorners)
{
    const auto highlight = highlightFor(Rect(100, 200, 300, 50));
    EXPECT_EQ(highlight.outline, (L::RoundedRect {Rect(95, 195, 310, 60), 11}));
    EXPECT_EQ(highlight.fill, (L::Fill {L::Paint::accent, 0.12}));
    EXPECT_EQ(highlight.stroke, (L::Fill {L::Paint::accent, 1}));
    EXPECT_EQ(highlight.lineWidth, 3);
}

TEST(SelectionCanvasLayout, TheLabelSitsAboveWhenThereIsRoomAndBelowOtherwise)
{
    const auto above = highlightFor(Rect(100, 200, 300, 50));
    EXPECT_EQ(above.labelPill.rect.minY(), 195 - 38);

    const auto below = highlightFor(Rect(100, 40, 300, 50));
    EXPECT_EQ(below.labelPill.rect.minY(), 95 + 10);

    // Grown top at 46 exactly is not room enough.
    EXPECT_EQ(highlightFor(Rect(100, 51, 300, 50)).labelPill.rect.minY(), 51 - 5 + 60 + 10);
    EXPECT_EQ(highlightFor(Rect(100, 52, 300, 50)).labelPill.rect.minY(), 52 - 5 - 38);

    // A highlight filling the screen's height keeps its label on the screen.
    EXPECT_EQ(highlightFor(Rect(100, 10, 300, 880)).labelPill.rect.minY(), 900 - 38);
}

TEST(SelectionCanvasLayout, TheLabelStaysSixteenPointsInsideTheSides)
{
    EXPECT_EQ(highlightFor(Rect(0, 200, 300, 50)).labelPill.rect.minX(), 16);
    const auto right = highlightFor(Rect(1400, 200, 40, 50));
    EXPECT_EQ(right.labelPill.rect.maxX(), 1440 - 16);
    EXPECT_EQ(highlightFor(Rect(300, 200, 40, 50)).labelPill.rect.minX(), 295);
}

TEST(SelectionCanvasLayout, ThePillFitsTheTextUpToTheScreenButNeverBelowOneHundredTwenty)
{
    const auto hola = highlightFor(Rect(100, 200, 300, 50), "Hola");
    EXPECT_EQ(hola.labelPill, (L::RoundedRect {Rect(95, 157, 24 + 24, 28), 14}));
    EXPECT_EQ(hola.labelTextRect, Rect(107, 163, 24, 18));
    EXPECT_EQ(hola.labelPillFill, (L::Fill {L::Paint::black, 0.78}));
    EXPECT_EQ(hola.labelFont, (L::Font {12, L::FontWeight::semibold}));
    EXPECT_EQ(hola.labelTextFill, (L::Fill {L::Paint::white, 1}));

    const std::string longLabel(80, 'x');
    EXPECT_EQ(highlightFor(Rect(10, 200, 30, 50), longLabel, Size {400, 900}).labelPill.rect.width(), 400 - 32);
    const auto narrow = highlightFor(Rect(10, 200, 30, 50), longLabel, Size {100, 900});
    EXPECT_EQ(narrow.labelPill.rect.width(), 120);
}

TEST(SelectionCanvasLayout, LongLabelsAreCutToEightyCharacters)
{
    std::string label;
    for (int i = 0; i < 100; ++i) label += "n\xCC\x83"; // ñ as two code points
    const auto highlight = highlightFor(Rect(100, 200, 300, 50), label);
    EXPECT_EQ(Text::characterCount(highlight.labelText), 80u);
    EXPECT_EQ(highlight.labelPill.rect.width(), 80 * 6 + 24);
}

TEST(SelectionCanvasHighlight, ShowsOnlyThePartOnTheScreenInItsOwnCoordinates)
{
    const DisplayGeometry right {Rect(1440, 0, 1440, 900), Rect(1440, 0, 1440, 900)};
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 200, 40), right), Rect(0, 500, 100, 40));
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 101, 40), right), std::nullopt);
    EXPECT_EQ(L::canvasHighlight(Rect(1340, 500, 102, 40), right), Rect(0, 500, 2, 40));
    EXPECT_EQ(L::canvasHighlight(Rect(0, 0, 100, 100), right), std::nullopt);

    // A canvas measured in other units than the display bounds scales with it.
    const DisplayGeometry scaled {Rect(0, 0, 2880, 1800), Rect(0, 0, 1440, 900)};
    EXPECT_EQ(L::canvasHighlight(Rect(100, 50, 200, 80), scaled), Rect(200, 100, 400, 160));

    const DisplayGeometry empty {Rect(0, 0, 1440, 900), Rect(0, 0, 0, 0)};
    EXPECT_EQ(L::canvasHighlight(Rect(100, 50, 200, 80), empty), std::nullopt);
}

} // namespace
} // namespace zorvane
