#include "app/ui/Controls.h"

#include "app/ui/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <cmath>

namespace zorvane::ui {

Spinner::Spinner(QWidget* parent, int diameter) : QWidget(parent), diameter_(diameter)
{
    setObjectName(QStringLiteral("spinner"));
    setFixedSize(diameter, diameter);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
}

void Spinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    timer_.start();
}

void Spinner::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    timer_.stop();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = Theme::shared().colors().secondaryText;
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double outer = diameter_ / 2.0 - 1;
    const double inner = outer * 0.45;
    for (int i = 0; i < 12; ++i) {
        QColor color = base;
        const int age = (step_ - i + 12) % 12;
        color.setAlphaF(static_cast<float>(1.0 - age / 13.0));
        painter.setPen(QPen(color, std::max(1.5, diameter_ / 9.0), Qt::SolidLine, Qt::RoundCap));
        const double angle = i * M_PI / 6;
        painter.drawLine(centre + QPointF(std::sin(angle) * inner, -std::cos(angle) * inner),
                         centre + QPointF(std::sin(angle) * outer, -std::cos(angle) * outer));
    }
}

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::StrongFocus);
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    const Theme& theme = Theme::shared();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor trackColor = isChecked() ? theme.accent() : (theme.isDark() ? QColor(255, 255, 255, 50) : QColor(0, 0, 0, 40));
    if (!isEnabled()) trackColor.setAlphaF(trackColor.alphaF() * 0.5f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(Qt::white));
    painter.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(theme.accent(), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
    }
}

SegmentedControl::SegmentedControl(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("segmentedControl"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    group_.setExclusive(false); // "none selected" must be possible for an unknown stored value
    connect(&group_, &QButtonGroup::idClicked, this, [this](int id) {
        const QString tag = tags_[static_cast<std::size_t>(id)];
        setCurrentTag(tag);
        emit currentChanged(tag);
    });
    connect(&Theme::shared(), &Theme::changed, this, [this] {
        setCurrentTag(currentTag());
        update();
    });
}

void SegmentedControl::addSegment(const QString& title, const QString& tag, const QIcon& icon)
{
    auto* button = new QPushButton(icon, title, this);
    button->setObjectName(QStringLiteral("segment:") + tag);
    button->setCheckable(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setMinimumHeight(24);
    group_.addButton(button, static_cast<int>(tags_.size()));
    tags_.push_back(tag);
    layout()->addWidget(button);
    setCurrentTag(currentTag());
}

void SegmentedControl::setCurrentTag(const QString& tag)
{
    const Theme& theme = Theme::shared();
    const QColor selected = theme.isDark() ? QColor(0x63, 0x63, 0x6a) : QColor(Qt::white);
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        QAbstractButton* button = group_.button(static_cast<int>(i));
        const bool on = tags_[i] == tag;
        button->setChecked(on);
        button->setStyleSheet(
            QStringLiteral("QPushButton { border: none; border-radius: 5px; padding: 2px 8px; color: %1; background: %2; %3 }")
                .arg(theme.colors().text.name(), on ? selected.name(QColor::HexArgb) : QStringLiteral("transparent"),
                     on ? QStringLiteral("font-weight: 600;") : QString()));
    }
}

QString SegmentedControl::currentTag() const
{
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        if (group_.button(static_cast<int>(i))->isChecked()) return tags_[i];
    }
    return {};
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::shared().colors().fill);
    painter.drawRoundedRect(QRectF(rect()), 7, 7);
}

} // namespace zorvane::ui
