#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include <string_view>
#include <vector>

// The symbol names the interface uses ("viewfinder", "mic.fill", …) drawn from the user's icon
// theme by their freedesktop names, with Adwaita as the fallback theme. Symbolic icons are tinted
// to the colour they are drawn in, so they follow light and dark.
//
// Other windows use them like this:
//     button->setIcon(zorvane::ui::Symbols::icon("gearshape", Theme::shared().colors().text));
namespace zorvane::ui::Symbols {

// The freedesktop icon names for a symbol, best first; empty for a symbol we do not know.
std::vector<const char*> iconNames(std::string_view symbol);

// Makes Adwaita the fallback theme (and the theme itself when the desktop names none). Called
// once by the program; harmless to call again.
void installIconTheme();

// The symbol as a pixmap of `points` × `points` (device pixel ratio applied), tinted in `color`,
// followed by `trailingSpace` transparent points. A null pixmap when no theme has the icon.
QPixmap pixmap(std::string_view symbol, const QColor& color, int points = 16, qreal devicePixelRatio = 1.0, int trailingSpace = 0);

// The same as an icon (normal and disabled modes).
QIcon icon(std::string_view symbol, const QColor& color, int points = 16, int trailingSpace = 0);

} // namespace zorvane::ui::Symbols
