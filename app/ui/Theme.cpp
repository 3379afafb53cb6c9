#include "app/ui/Theme.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QWidget>

namespace zorvane::ui {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");

// Values arrive wrapped in one or two variants depending on the call.
QVariant unwrap(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    return value;
}

QColor colorFromPortal(const QVariant& value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>()) return {};
    const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
    if (argument.currentType() != QDBusArgument::StructureType) return {};
    double r = -1, g = -1, b = -1;
    argument.beginStructure();
    argument >> r >> g >> b;
    argument.endStructure();
    // Out of range means "no accent colour set".
    if (r < 0 || r > 1 || g < 0 || g > 1 || b < 0 || b > 1) return {};
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

QString css(const QColor& color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(color.alphaF(), 'f', 3));
}

} // namespace

Theme& Theme::shared()
{
    static Theme* theme = new Theme; // lives as long as the process, like the application object
    return *theme;
}

Theme::Theme()
{
    // Until the portal answers (or where there is none) the palette's own lightness decides.
    const QPalette system = QApplication::palette();
    desktopScheme_ = system.color(QPalette::Window).lightness() < 128 ? Scheme::dark : Scheme::light;
    recompute();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    refreshFromDesktop();
}

void Theme::refreshFromDesktop()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    for (const QString& key : {QStringLiteral("color-scheme"), QStringLiteral("accent-color")}) {
        QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
        call << appearanceGroup << key;
        // Asynchronous: a portal that starts slowly never delays the program.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusMessage reply = w->reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
            applyPortalValue(key, unwrap(reply.arguments().constFirst()));
        });
    }
}

void Theme::portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group == appearanceGroup) applyPortalValue(key, unwrap(value.variant()));
}

void Theme::applyPortalValue(const QString& key, const QVariant& value)
{
    if (key == QLatin1String("color-scheme")) {
        // 1: prefers dark; 2: prefers light; 0: no preference (light).
        desktopScheme_ = value.toUInt() == 1 ? Scheme::dark : Scheme::light;
    } else if (key == QLatin1String("accent-color")) {
        desktopAccent_ = colorFromPortal(value);
    } else {
        return;
    }
    recompute();
}

void Theme::setOverride(std::optional<Scheme> scheme)
{
    override_ = scheme;
    recompute();
}

void Theme::setAccentOverride(const QColor& accent)
{
    accentOverride_ = accent;
    recompute();
}

void Theme::recompute()
{
    const bool dark = isDark();
    ThemeColors c;
    c.text = dark ? QColor(0xf2, 0xf2, 0xf4) : QColor(0x1d, 0x1d, 0x1f);
    c.secondaryText = dark ? QColor(0xa8, 0xa8, 0xb0) : QColor(0x6b, 0x6b, 0x72);
    c.surface = dark ? QColor(0x2a, 0x2a, 0x2e) : QColor(0xf7, 0xf7, 0xf8);
    c.surfaceBorder = dark ? QColor(255, 255, 255, 38) : QColor(0, 0, 0, 40);
    c.divider = dark ? QColor(255, 255, 255, 36) : QColor(0, 0, 0, 30);
    c.fill = dark ? QColor(255, 255, 255, 22) : QColor(0, 0, 0, 14);
    QColor accent = accentOverride_.isValid() ? accentOverride_ : desktopAccent_;
    if (!accent.isValid()) accent = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    if (!accent.isValid()) accent = QColor(0x35, 0x84, 0xe4);
    c.accent = accent;
    c.accentText = accent.lightnessF() > 0.72 ? QColor(0x1d, 0x1d, 0x1f) : QColor(Qt::white);
    c.orange = dark ? QColor(0xff, 0xa0, 0x3c) : QColor(0xc2, 0x4e, 0x00);
    c.red = dark ? QColor(0xff, 0x5a, 0x4f) : QColor(0xd7, 0x26, 0x1e);
    c.green = dark ? QColor(0x4c, 0xd9, 0x64) : QColor(0x1f, 0x9d, 0x55);
    c.link = dark ? accent.lighter(135) : accent.darker(110);
    colors_ = c;
    emit changed();
}

QPalette Theme::palette() const
{
    const ThemeColors& c = colors_;
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, c.surface);
        p.setColor(group, QPalette::Base, isDark() ? QColor(0x1f, 0x1f, 0x22) : QColor(Qt::white));
        p.setColor(group, QPalette::AlternateBase, isDark() ? QColor(0x33, 0x33, 0x38) : QColor(0xee, 0xee, 0xf0));
        p.setColor(group, QPalette::WindowText, disabled ? c.secondaryText : c.text);
        p.setColor(group, QPalette::Text, disabled ? c.secondaryText : c.text);
        p.setColor(group, QPalette::ButtonText, disabled ? c.secondaryText : c.text);
        p.setColor(group, QPalette::Button, isDark() ? QColor(0x3a, 0x3a, 0x40) : QColor(0xfb, 0xfb, 0xfc));
        p.setColor(group, QPalette::PlaceholderText, c.secondaryText);
        p.setColor(group, QPalette::Highlight, c.accent);
        p.setColor(group, QPalette::HighlightedText, c.accentText);
        p.setColor(group, QPalette::Link, c.link);
        p.setColor(group, QPalette::LinkVisited, c.link);
        p.setColor(group, QPalette::ToolTipBase, c.surface);
        p.setColor(group, QPalette::ToolTipText, c.text);
        p.setColor(group, QPalette::Mid, c.divider);
    }
    return p;
}

QFont Theme::font(TextStyle style)
{
    QFont font = QApplication::font();
    switch (style) {
    case TextStyle::body: font.setPixelSize(14); break;
    case TextStyle::callout: font.setPixelSize(13); break;
    case TextStyle::headline:
        font.setPixelSize(14);
        font.setWeight(QFont::DemiBold);
        break;
    case TextStyle::subheadline: font.setPixelSize(13); break;
    case TextStyle::caption: font.setPixelSize(11); break;
    case TextStyle::monospaced:
        font = QFont(QStringLiteral("monospace"));
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
        font.setPixelSize(13);
        break;
    }
    return font;
}

QString Theme::styleSheet() const
{
    const ThemeColors& c = colors_;
    const QColor hover = isDark() ? c.accent.lighter(115) : c.accent.darker(108);
    const QColor pressed = isDark() ? c.accent.lighter(130) : c.accent.darker(120);
    const QColor borderedBg = isDark() ? QColor(255, 255, 255, 28) : QColor(0, 0, 0, 12);
    const QColor borderedHover = isDark() ? QColor(255, 255, 255, 44) : QColor(0, 0, 0, 22);
    const QColor scrollHandle = isDark() ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 60);
    QColor focusOnAccent = c.accentText;
    focusOnAccent.setAlphaF(0.85f);
    // Colours go through the style sheet: Qt ignores palettes under style sheets.
    const QString base = QStringLiteral(
                             "QWidget { color: %1; }"
                             "QLabel:disabled { color: %5; }"
                             "QAbstractScrollArea, QAbstractScrollArea > QWidget { background: transparent; }"
                             "QWidget#scrollContent { background: transparent; }"
                             "QPlainTextEdit, QTextBrowser { background: transparent; color: %1; border: none;"
                             " selection-background-color: %2; selection-color: %3; }"
                             "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 2px 2px 0; }"
                             "QScrollBar::handle:vertical { background: %4; border-radius: 3px; min-height: 24px; margin: 0 1px; }"
                             "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
                             "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
                             .arg(css(c.text), css(c.accent), css(c.accentText), css(scrollHandle), css(c.secondaryText));
    return base + QStringLiteral(
               "QPushButton[kind=\"prominent\"] { background: %1; color: %2; border: none; border-radius: 7px;"
               " padding: 6px 14px; font-weight: 600; }"
               "QPushButton[kind=\"prominent\"]:hover { background: %3; }"
               "QPushButton[kind=\"prominent\"]:pressed { background: %4; }"
               "QPushButton[kind=\"prominent\"]:disabled { background: %5; color: %6; }"
               "QPushButton[kind=\"bordered\"] { background: %5; color: %7; border: 1px solid %8; border-radius: 6px;"
               " padding: 4px 12px; }"
               "QPushButton[kind=\"bordered\"]:hover { background: %9; }"
               "QPushButton[kind=\"borderless\"], QToolButton[kind=\"plain\"] { background: transparent; color: %7; border: none;"
               " padding: 3px 4px; }"
               "QPushButton[kind=\"borderless\"]:hover, QToolButton[kind=\"plain\"]:hover { background: %5; border-radius: 6px; }"
               "QLabel[kind=\"secondary\"] { color: %6; }"
               "QToolTip { color: %7; background: %10; border: 1px solid %8; padding: 3px; }"
               // Where the keyboard is: a 2-point ring, the padding shrunk by as much so nothing moves.
               "QPushButton[kind=\"prominent\"]:focus { border: 2px solid %11; padding: 4px 12px; outline: none; }"
               "QPushButton[kind=\"bordered\"]:focus { border: 2px solid %1; padding: 3px 11px; outline: none; }"
               "QPushButton[kind=\"borderless\"]:focus { border: 2px solid %1; border-radius: 6px; padding: 1px 2px; outline: none; }"
               "QToolButton[kind=\"plain\"]:focus { border: 2px solid %1; border-radius: 6px; padding: 0; outline: none; }")
        .arg(css(c.accent), css(c.accentText), css(hover), css(pressed), css(borderedBg), css(c.secondaryText),
             css(c.text), css(c.surfaceBorder), css(borderedHover))
        .arg(css(c.surface), css(focusOnAccent));
}

void Theme::apply(QWidget* window) const
{
    if (!window) return;
    window->setPalette(palette());
    window->setStyleSheet(styleSheet());
}

} // namespace zorvane::ui
