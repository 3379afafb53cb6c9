#include "app/platform/linux/OverlayCanvas.h"

#include "app/selection/SelectionCanvasLayout.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QPalette>

namespace zorvane::linux_platform {

namespace Layout = SelectionCanvasLayout;

namespace {

QFont systemFont(const Layout::Font& spec)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(static_cast<int>(spec.size));
    font.setWeight(spec.weight == Layout::FontWeight::semibold ? QFont::DemiBold : QFont::Medium);
    return font;
}

QRectF toQt(const Rect& r) { return QRectF(r.minX(), r.minY(), r.width(), r.height()); }

QPainterPath rounded(const Layout::RoundedRect& r)
{
    QPainterPath path;
    path.addRoundedRect(toQt(r.rect), r.cornerRadius, r.cornerRadius);
    return path;
}

} // namespace

void paintOverlayCanvas(QPainter& painter, QSizeF size, const std::optional<Rect>& highlight, const std::string& label,
    const OverlayCanvasStyle& style)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    const auto color = [&accent](const Layout::Fill& fill) {
        QColor c = fill.paint == Layout::Paint::accent ? accent : fill.paint == Layout::Paint::white ? QColor(Qt::white) : QColor(Qt::black);
        c.setAlphaF(static_cast<float>(fill.alpha));
        return c;
    };
    const auto measure = [](const std::string& text, const Layout::Font& font) {
        return QFontMetricsF(systemFont(font)).horizontalAdvance(QString::fromStdString(text));
    };
    const Layout::Drawing drawing = Layout::layout(Size {size.width(), size.height()}, highlight, label, measure);
    painter.fillRect(toQt(drawing.veil), style.veil.value_or(color(drawing.veilFill)));

    if (const auto& h = drawing.highlight; h && style.highlight) {
        const QPainterPath outline = rounded(h->outline);
        painter.fillPath(outline, color(h->fill));
        painter.strokePath(outline, QPen(color(h->stroke), h->lineWidth));
        painter.fillPath(rounded(h->labelPill), color(h->labelPillFill));
        const QFont font = systemFont(h->labelFont);
        const QRectF textRect = toQt(h->labelTextRect);
        painter.setFont(font);
        painter.setPen(color(h->labelTextFill));
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetricsF(font).elidedText(QString::fromStdString(h->labelText), Qt::ElideRight, textRect.width()));
    }
    if (!style.hint) return;
    const Layout::Hint& hint = drawing.hint;
    painter.fillPath(rounded(hint.pill), color(hint.fill));
    const QFont hintFont = systemFont(hint.font);
    painter.setFont(hintFont);
    painter.setPen(color(hint.textFill));
    // The origin is the top-left corner of the text's line, not its baseline.
    painter.drawText(QPointF(hint.textOrigin.x, hint.textOrigin.y + QFontMetricsF(hintFont).ascent()), QString::fromStdString(hint.text));
}

} // namespace zorvane::linux_platform
