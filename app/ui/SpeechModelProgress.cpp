#include "app/ui/SpeechModelProgress.h"

#include "app/ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zorvane::ui {

namespace SpeechModelTexts {

QString megabytes(std::uint64_t bytes)
{
    return QString::number(static_cast<double>(bytes) / 1e6, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')) + QStringLiteral(" MB");
}

QString downloadAction(const SpeechModels::Offer& offer)
{
    return QStringLiteral("Descargar el modelo de voz en %1 (%2 MB)")
        .arg(QString::fromStdString(offer.languageName))
        .arg(std::llround(static_cast<double>(offer.bytes) / 1e6));
}

QString progress(std::uint64_t received, std::uint64_t total)
{
    const auto percent = total > 0 ? static_cast<int>(std::min<std::uint64_t>(received, total) * 100 / total) : 0;
    return QStringLiteral("%1 de %2 (%3 %)").arg(megabytes(received), megabytes(total)).arg(percent);
}

} // namespace SpeechModelTexts

DownloadProgressBar::DownloadProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setObjectName(QStringLiteral("downloadProgress"));
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
    setFixedHeight(4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DownloadProgressBar::setProgress(std::uint64_t received, std::uint64_t total)
{
    const int percent = total > 0 ? static_cast<int>(std::min(received, total) * 100 / total) : 0;
    setAccessibleName(QStringLiteral("%1 %").arg(percent));
    setValue(percent); // redraws only when the percent moves
}

void DownloadProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const ThemeColors& colors = Theme::shared().colors();
    const QRectF track = rect();
    const double radius = track.height() / 2;
    QColor fill = colors.fill;
    fill.setAlphaF(std::min(1.0f, fill.alphaF() * 2.5f)); // the quiet fill alone is too faint for a track
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const double fraction = value() / 100.0;
    if (fraction <= 0) return;
    painter.setBrush(colors.accent);
    painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(std::max(track.height(), track.width() * fraction), track.height())), radius, radius);
}

} // namespace zorvane::ui
