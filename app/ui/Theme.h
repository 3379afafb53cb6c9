#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>

#include <optional>

class QWidget;
class QDBusVariant;

namespace zorvane::ui {

// The named text styles of the interface, as pixel sizes and weights that read well beside the
// desktop's own fonts.
enum class TextStyle { body, callout, headline, subheadline, caption, monospaced };

// The colours every window of the program draws with, for the current light or dark appearance.
struct ThemeColors {
    QColor text;
    QColor secondaryText;
    QColor surface;        // window background (opaque; surfaces add their own translucency)
    QColor surfaceBorder;  // the hairline around rounded surfaces
    QColor divider;
    QColor fill;           // quiet backgrounds: the thumbnail, the options group, code
    QColor accent;         // prominent buttons, the focused field, selected segments
    QColor accentText;     // text on the accent
    QColor orange;         // errors
    QColor red;            // dictation in progress
    QColor green;          // granted, connected
    QColor link;
};

// The desktop's appearance: light or dark from the settings portal's "color-scheme", the accent
// colour where the desktop publishes one ("accent-color"), else the palette's highlight. Follows
// changes while the program runs. Main thread only; one per process (`shared()`).
//
// Windows of other areas reuse it like this:
//     auto& theme = zorvane::ui::Theme::shared();
//     theme.apply(window);                      // palette, fonts and the shared style sheet
//     QObject::connect(&theme, &Theme::changed, window, [window] { Theme::shared().apply(window); });
//     painter.setPen(theme.colors().secondaryText);
class Theme : public QObject {
    Q_OBJECT
public:
    enum class Scheme { light, dark };

    static Theme& shared();

    Scheme scheme() const { return override_.value_or(desktopScheme_); }
    bool isDark() const { return scheme() == Scheme::dark; }
    const ThemeColors& colors() const { return colors_; }
    QColor accent() const { return colors_.accent; }

    // Forces an appearance (tests, screenshots); none follows the desktop again.
    void setOverride(std::optional<Scheme> scheme);
    // Uses this accent instead of the desktop's; an invalid colour follows the desktop again.
    void setAccentOverride(const QColor& accent);

    // A palette for widgets of this appearance.
    QPalette palette() const;
    // The font of a named style, based on the application's font.
    static QFont font(TextStyle style);
    // Gives the window (and its children) the palette and the shared style sheet of buttons,
    // fields and segmented pickers. Call again when `changed` is emitted.
    void apply(QWidget* window) const;
    // The style sheet `apply` installs. It styles by the dynamic property "kind":
    // QPushButton "prominent", "bordered", "borderless"; QToolButton "plain"; QLabel "secondary"
    // (e.g. `button->setProperty("kind", "prominent")`), so object names stay free for tests.
    QString styleSheet() const;

    // Asks the settings portal again (it is also followed through its change signal).
    void refreshFromDesktop();

signals:
    void changed();

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    Theme();
    void recompute();
    void applyPortalValue(const QString& key, const QVariant& value);

    Scheme desktopScheme_ = Scheme::light;
    std::optional<Scheme> override_;
    QColor desktopAccent_;
    QColor accentOverride_;
    ThemeColors colors_;
};

} // namespace zorvane::ui
