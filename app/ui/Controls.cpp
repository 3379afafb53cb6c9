#include "app/ui/Controls.h"

#include "app/ui/Accessibility.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>
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
    // Reached with Tab; a click does not leave a focus ring behind.
    setFocusPolicy(Qt::TabFocus);
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

void setLabelSymbol(QAbstractButton* button, std::string_view symbol, const QColor& color, int points)
{
    // The symbol carries 4 points of room after it; the style adds its own 2.
    constexpr int room = 4;
    button->setIcon(Symbols::icon(symbol, color, points, room));
    button->setIconSize(QSize(points + room, points));
}

bool pressFocusedButton(QWidget* window, QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier)) return false;
    auto* button = qobject_cast<QAbstractButton*>(window->focusWidget());
    if (!button || !button->isEnabled() || !button->isVisible()) return false;
    button->click();
    return true;
}

void ChoiceKeys::add(QAbstractButton* button)
{
    buttons_.push_back(button);
    button->installEventFilter(this);
    connect(button, &QAbstractButton::toggled, this, &ChoiceKeys::update);
    connect(button, &QObject::destroyed, this, [this, button] { std::erase(buttons_, button); });
    update();
}

void ChoiceKeys::update()
{
    QAbstractButton* stop = nullptr;
    for (QAbstractButton* button : buttons_) {
        if (button->isChecked()) stop = button;
    }
    if (!stop && !buttons_.empty()) stop = buttons_.front();
    for (QAbstractButton* button : buttons_) button->setFocusPolicy(button == stop ? Qt::TabFocus : Qt::NoFocus);
}

bool ChoiceKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: step = -1; break;
    case Qt::Key_Right:
    case Qt::Key_Down: step = 1; break;
    default: return false;
    }
    const auto count = static_cast<int>(buttons_.size());
    const auto at = std::find(buttons_.begin(), buttons_.end(), watched);
    if (at == buttons_.end()) return false;
    const int from = static_cast<int>(at - buttons_.begin());
    for (int i = 1; i < count; ++i) {
        QAbstractButton* next = buttons_[static_cast<std::size_t>(((from + step * i) % count + count) % count)];
        if (!next->isVisible() || !next->isEnabled()) continue;
        if (!next->isChecked()) next->click();
        next->setFocus(Qt::TabFocusReason);
        break;
    }
    return true;
}

SegmentedControl::SegmentedControl(QWidget* parent) : QWidget(parent), keys_(new ChoiceKeys(this))
{
    setObjectName(QStringLiteral("segmentedControl"));
    Accessibility::setRole(this, QAccessible::Grouping);
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
        restyle();
        update();
    });
}

void SegmentedControl::addSegment(const QString& title, const QString& tag, const std::string& symbol)
{
    auto* button = new QPushButton(title, this);
    button->setObjectName(QStringLiteral("segment:") + tag);
    Accessibility::setRole(button, QAccessible::RadioButton);
    button->setCheckable(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setMinimumHeight(24);
    group_.addButton(button, static_cast<int>(tags_.size()));
    tags_.push_back(tag);
    symbols_.push_back(symbol);
    layout()->addWidget(button);
    keys_->add(button);
    restyle();
}

void SegmentedControl::setCurrentTag(const QString& tag)
{
    for (std::size_t i = 0; i < tags_.size(); ++i) group_.button(static_cast<int>(i))->setChecked(tags_[i] == tag);
    restyle();
}

void SegmentedControl::restyle()
{
    const Theme& theme = Theme::shared();
    const QColor selected = theme.isDark() ? QColor(0x63, 0x63, 0x6a) : QColor(Qt::white);
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        QAbstractButton* button = group_.button(static_cast<int>(i));
        const bool on = button->isChecked();
        // The keyboard's place shows as a ring in the accent colour; the padding shrinks to keep the size.
        button->setStyleSheet(
            QStringLiteral("QPushButton { border: none; border-radius: 5px; padding: 2px 8px; color: %1; background: %2; %3 }"
                           "QPushButton:focus { border: 2px solid %4; padding: 0px 6px; outline: none; }")
                .arg(theme.colors().text.name(), on ? selected.name(QColor::HexArgb) : QStringLiteral("transparent"),
                     on ? QStringLiteral("font-weight: 600;") : QString(), theme.accent().name()));
        if (!symbols_[i].empty()) setLabelSymbol(button, symbols_[i], theme.colors().text, 14);
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
