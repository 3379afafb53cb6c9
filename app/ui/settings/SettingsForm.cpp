#include "app/ui/settings/SettingsForm.h"

#include "app/ui/Accessibility.h"
#include "app/ui/Symbols.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>


namespace zorvane::ui {
namespace {

// The rounded group behind a section's rows.
class SectionGroup : public QFrame {
public:
    explicit SectionGroup(QWidget* parent) : QFrame(parent) { setObjectName(QStringLiteral("sectionGroup")); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const ThemeColors& colors = Theme::shared().colors();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colors.divider, 1));
        painter.setBrush(Theme::shared().isDark() ? QColor(255, 255, 255, 14) : QColor(255, 255, 255, 200));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

// The line above a row: it shows and hides with the row, so a hidden row leaves no line behind.
class Hairline : public QWidget {
public:
    Hairline(QWidget* parent, QWidget* row) : QWidget(parent)
    {
        setFixedHeight(1);
        row->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ShowToParent) show();
        if (event->type() == QEvent::HideToParent) hide();
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect().adjusted(12, 0, -1, 0), Theme::shared().colors().divider);
    }
};

} // namespace

void setSymbol(QLabel* label, const char* symbol, const QColor& color, int points)
{
    const qreal ratio = label->devicePixelRatioF();
    QPixmap pixmap = Symbols::pixmap(symbol, color, points, ratio);
    label->setPixmap(pixmap);
}

QLabel* symbolLabel(const char* symbol, const QColor& color, int points, int frame, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(frame > 0 ? frame : points, frame > 0 ? frame : points);
    setSymbol(label, symbol, color, points);
    // Symbols in the text colours are tinted again when light and dark change (retintSymbols).
    const ThemeColors& colors = Theme::shared().colors();
    const char* role = color == colors.text ? "text" : (color == colors.secondaryText ? "secondary" : nullptr);
    if (role) {
        label->setProperty("symbolRole", QString::fromLatin1(role));
        label->setProperty("symbolName", QString::fromLatin1(symbol));
        label->setProperty("symbolPoints", points);
    }
    return label;
}

void retintSymbols(QWidget* root)
{
    const ThemeColors& colors = Theme::shared().colors();
    for (QLabel* label : root->findChildren<QLabel*>()) {
        const QString role = label->property("symbolRole").toString();
        if (role.isEmpty()) continue;
        setSymbol(label, label->property("symbolName").toString().toLatin1().constData(),
            role == QLatin1String("text") ? colors.text : colors.secondaryText, label->property("symbolPoints").toInt());
    }
}

QLabel* textLabel(const QString& text, TextStyle style, bool secondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(Theme::font(style));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    // Colours come from the window's style sheet (windowStyleSheet), so they follow light and dark.
    if (secondary) label->setProperty("kind", QStringLiteral("secondary"));
    return label;
}

QPushButton* styledButton(const QString& text, const char* kind, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setProperty("kind", QString::fromLatin1(kind));
    button->setObjectName(QString::fromLatin1(name));
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus); // reached with Tab; a click leaves no focus ring
    return button;
}

FormSection::FormSection(const QString& title, QWidget* parent) : QWidget(parent)
{
    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(0, 0, 0, 0);
    outer_->setSpacing(6);
    auto* heading = textLabel(title, TextStyle::headline, false, this);
    heading->setObjectName(QStringLiteral("sectionTitle"));
    heading->setContentsMargins(4, 0, 0, 0);
    outer_->addWidget(heading);
    group_ = new SectionGroup(this);
    Accessibility::setRole(group_, QAccessible::Grouping);
    group_->setAccessibleName(title);
    rows_ = new QVBoxLayout(group_);
    rows_->setContentsMargins(0, 2, 0, 2);
    rows_->setSpacing(0);
    outer_->addWidget(group_);
}

QWidget* FormSection::addRow(QWidget* row)
{
    if (rows_->count() > 0) rows_->addWidget(new Hairline(group_, row));
    row->setParent(group_);
    row->setContentsMargins(12, 8, 12, 8);
    rows_->addWidget(row);
    return row;
}

QWidget* FormSection::addRow(QWidget* leading, QWidget* trailing)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(leading, 1);
    if (trailing) layout->addWidget(trailing, 0, Qt::AlignVCenter | Qt::AlignRight);
    return addRow(row);
}

void FormSection::addFooter(QWidget* footer)
{
    footer->setParent(this);
    footer->setContentsMargins(4, 0, 4, 0);
    outer_->addWidget(footer);
}

QWidget* titledRow(const char* symbol, const QColor& color, const QString& title, const QString& detail, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    if (symbol) layout->addWidget(symbolLabel(symbol, color, 16, 20, row), 0, detail.isEmpty() ? Qt::AlignVCenter : Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = textLabel(title, TextStyle::body, false, row);
    titleLabel->setObjectName(QStringLiteral("rowTitle"));
    texts->addWidget(titleLabel);
    if (!detail.isEmpty()) {
        auto* detailLabel = textLabel(detail, TextStyle::caption, true, row);
        detailLabel->setObjectName(QStringLiteral("rowDetail"));
        texts->addWidget(detailLabel);
    }
    layout->addLayout(texts, 1);
    return row;
}

PermissionRow::PermissionRow(const QString& title, const QString& detail, std::function<void()> action, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    symbol_ = new QLabel(this);
    symbol_->setFixedSize(20, 20);
    symbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = textLabel(title, TextStyle::subheadline, false, this);
    QFont font = titleLabel->font();
    font.setWeight(QFont::Medium);
    titleLabel->setFont(font);
    texts->addWidget(titleLabel);
    texts->addWidget(textLabel(detail, TextStyle::caption, true, this));
    layout->addLayout(texts, 1);
    allow_ = styledButton(QStringLiteral("Permitir"), "bordered", "allowButton", this);
    allow_->setAccessibleName(QStringLiteral("Permitir ") + title); // several rows say "Permitir"
    layout->addWidget(allow_, 0, Qt::AlignVCenter);
    connect(allow_, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    setGranted(false);
}

void PermissionRow::setGranted(bool granted)
{
    granted_ = granted;
    const ThemeColors& colors = Theme::shared().colors();
    setSymbol(symbol_, granted ? "checkmark.circle.fill" : "circle.dashed", granted ? colors.green : colors.secondaryText, 18);
    allow_->setVisible(!granted);
}

ChangeWatcher::ChangeWatcher(QObject* owner, std::function<void()> sync) : QObject(owner), sync_(std::move(sync))
{
    connect(&Theme::shared(), &Theme::changed, this, &ChangeWatcher::schedule);
}

ChangeWatcher::~ChangeWatcher()
{
    for (auto& [object, token] : objects_)
        if (auto o = object.lock()) o->removeChangeObserver(token);
    for (auto& [defaults, token] : defaults_)
        if (auto d = defaults.lock()) d->removeObserver(token);
}

void ChangeWatcher::watch(const std::shared_ptr<ObservableObject>& object)
{
    // Observers hear of a change before it is made: the sync runs afterwards, from the event loop.
    objects_.emplace_back(object, object->addChangeObserver([this] { schedule(); }));
}

void ChangeWatcher::watch(const std::shared_ptr<UserDefaults>& defaults)
{
    QPointer<ChangeWatcher> self(this);
    defaults_.emplace_back(defaults, defaults->addObserver([self](const std::string&) {
        QMetaObject::invokeMethod(self, [self] {
            if (self) self->schedule();
        }, Qt::QueuedConnection);
    }));
}

void ChangeWatcher::schedule()
{
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(this, [this] {
        pending_ = false;
        sync_();
    }, Qt::QueuedConnection);
}

QString windowStyleSheet()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    return theme.styleSheet()
        + QStringLiteral("QLabel { color: %1; }"
                         "QLabel[kind=\"secondary\"] { color: %2; }"
                         "QPushButton[kind=\"bordered\"]:disabled { color: %2; }"
                         "QScrollArea, QWidget#qt_scrollarea_viewport, QWidget[formContent=\"true\"] { background: transparent; }")
              .arg(c.text.name(), c.secondaryText.name());
}

} // namespace zorvane::ui
