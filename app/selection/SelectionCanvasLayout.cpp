#include "app/selection/SelectionCanvasLayout.h"

#include "app/core/Text.h"

#include <algorithm>

namespace zorvane::SelectionCanvasLayout {

namespace {

constexpr double highlightGrowth = 5;
constexpr double margin = 16;
constexpr double pillHeight = 28;
// Room the label needs above the highlight: its height and a gap of 10.
constexpr double labelRise = 38;

Highlight highlightDrawing(Size canvasSize, const Rect& highlightRect, const std::string& label, const TextMeasure& measure)
{
    const Rect r = highlightRect.standardized().insetBy(-highlightGrowth, -highlightGrowth);
    // One line: a text's own line breaks would stack its lines inside the pill.
    std::string flat = label;
    std::replace_if(flat.begin(), flat.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    std::string text = Text::prefixCharacters(flat, labelCharacters);
    const double textWidth = measure(text, labelFont);

    const double width = std::min(std::max(canvasSize.width - 2 * margin, 120.0), textWidth + 24);
    const double x = std::min(std::max(r.minX(), margin), canvasSize.width - width - margin);
    double y = r.minY() > 46 ? r.minY() - labelRise : r.maxY() + 10;
    y = std::min(y, canvasSize.height - labelRise);

    return Highlight {
        RoundedRect {r, 11},
        Fill {Paint::accent, 0.12},
        Fill {Paint::accent, 1},
        3,
        RoundedRect {Rect(x, y, width, pillHeight), 14},
        Fill {Paint::black, 0.78},
        std::move(text),
        labelFont,
        Fill {Paint::white, 1},
        Rect(x + 12, y + 6, width - 24, 18),
    };
}

} // namespace

Drawing layout(Size canvasSize, const std::optional<Rect>& highlightRect, const std::string& label, const TextMeasure& measure)
{
    Drawing drawing;
    drawing.veil = Rect(0, 0, canvasSize.width, canvasSize.height);
    drawing.veilFill = Fill {Paint::black, 0.07};
    if (highlightRect && !highlightRect->isNull()) drawing.highlight = highlightDrawing(canvasSize, *highlightRect, label, measure);

    const std::string hint(hintText);
    const double hintWidth = measure(hint, hintFont);
    const Rect pill(canvasSize.width / 2 - hintWidth / 2 - 16, 22, hintWidth + 32, 32);
    drawing.hint = Hint {RoundedRect {pill, 16}, Fill {Paint::black, 0.72}, hint, hintFont, Fill {Paint::white, 1},
        Point {pill.minX() + 16, 22 + 8}};
    return drawing;
}

std::optional<Rect> canvasHighlight(const Rect& quartzRect, const DisplayGeometry& display)
{
    const Rect& quartz = display.quartzBounds;
    if (quartz.isNull() || quartz.width() <= 0 || quartz.height() <= 0) return std::nullopt;
    const Rect part = quartzRect.intersection(quartz);
    if (part.isNull() || part.width() < 2 || part.height() < 2) return std::nullopt;
    const double sx = display.appKitFrame.width() / quartz.width();
    const double sy = display.appKitFrame.height() / quartz.height();
    return Rect((part.minX() - quartz.minX()) * sx, (part.minY() - quartz.minY()) * sy, part.width() * sx, part.height() * sy);
}

} // namespace zorvane::SelectionCanvasLayout
