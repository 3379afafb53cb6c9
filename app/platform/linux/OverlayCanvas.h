#pragma once

#include "app/core/Geometry.h"

#include <QColor>
#include <QPainter>

#include <optional>
#include <string>

namespace zorvane::linux_platform {

// What differs between the ways an overlay panel is drawn over the desktop.
struct OverlayCanvasStyle {
    std::optional<QColor> veil; // in place of the layout's veil (a refusal needs a deeper one)
    bool highlight = true;      // the outline and its label pill
    bool hint = true;           // the pill that says how to select
};

// Paints, over whatever the painter already holds, what the selection's canvas layout computes for
// a panel of `size` points: the veil, the highlight with its label, and the hint. Every window
// system's overlay draws through this, so they look alike.
void paintOverlayCanvas(QPainter& painter, QSizeF size, const std::optional<Rect>& highlight, const std::string& label,
    const OverlayCanvasStyle& style = {});

} // namespace zorvane::linux_platform
