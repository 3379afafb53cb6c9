#pragma once

#include "app/core/Geometry.h"
#include "app/platform/Screens.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Everything an overlay canvas draws, computed here so every adapter draws the same thing; the
// adapter only measures text in the system font and paints. Canvas coordinates are points with
// the origin at the top-left corner of the canvas and y growing downwards.
namespace zorvane::SelectionCanvasLayout {

inline constexpr std::string_view hintText = "Clic: automático · Arrastra: área exacta · Esc: salir";
inline constexpr std::string_view defaultLabel = "Área visual";
inline constexpr std::size_t labelCharacters = 80;

enum class FontWeight { medium, semibold };
struct Font {
    double size;
    FontWeight weight;
    friend bool operator==(const Font&, const Font&) = default;
};
inline constexpr Font labelFont {12, FontWeight::semibold};
inline constexpr Font hintFont {13, FontWeight::medium};

// The width in points of the text set in the system font.
using TextMeasure = std::function<double(const std::string& text, const Font& font)>;

// accent is the system's accent colour.
enum class Paint { black, white, accent };
struct Fill {
    Paint paint;
    double alpha;
    friend bool operator==(const Fill&, const Fill&) = default;
};

struct RoundedRect {
    Rect rect;
    double cornerRadius;
    friend bool operator==(const RoundedRect&, const RoundedRect&) = default;
};

struct Highlight {
    RoundedRect outline; // the highlight grown by 5 points on every side
    Fill fill;
    Fill stroke;
    double lineWidth;
    RoundedRect labelPill;
    Fill labelPillFill;
    std::string labelText; // what fits the label's character limit
    Font labelFont;
    Fill labelTextFill;
    Rect labelTextRect;
};

struct Hint {
    RoundedRect pill;
    Fill fill;
    std::string text;
    Font font;
    Fill textFill;
    Point textOrigin;
};

struct Drawing {
    Rect veil; // the whole canvas
    Fill veilFill;
    std::optional<Highlight> highlight;
    Hint hint;
};

// The drawing of a canvas of the given size, with its highlight (canvas coordinates) and label.
Drawing layout(Size canvasSize, const std::optional<Rect>& highlightRect, const std::string& label, const TextMeasure& measure);

// The part of a Quartz rectangle that falls on one screen, in that screen's canvas coordinates;
// none when less than 2 × 2 points of it are on the screen.
std::optional<Rect> canvasHighlight(const Rect& quartzRect, const DisplayGeometry& display);

} // namespace zorvane::SelectionCanvasLayout
