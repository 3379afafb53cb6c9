#include "app/ui/MenuBarView.h"

#include "app/model/AppModel.h"
#include "app/core/Defaults.h"
#include "app/ui/Accessibility.h"
#include "app/ui/Controls.h"
#include "app/ui/DesktopTriggers.h"
#include "app/ui/ModelObserver.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorvane::ui {
namespace {

QLabel* makeLabel(const QString& text, TextStyle style, QWidget* parent, const char* objectName, bool semibold = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(objectName));
    QFont font = Theme::font(style);
    if (semibold) font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A quiet rounded background for a group of controls.
class GroupBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::shared().colors().fill);
        painter.drawRoundedRect(QRectF(rect()), 10, 10);
    }
};

} // namespace

MenuBarView::MenuBarView(AppModel& model, Actions actions, QWidget* parent)
    : QWidget(parent), model_(model.weak_from_this()), actions_(std::move(actions))
{
    setObjectName(QStringLiteral("menuBarView"));
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    // 1. The Accessibility notice.
    notice_ = new GroupBox(this);
    notice_->setObjectName(QStringLiteral("permissionNotice"));
    auto* noticeColumn = new QVBoxLayout(notice_);
    noticeColumn->setContentsMargins(12, 12, 12, 12);
    noticeColumn->setSpacing(9);
    auto* noticeHeader = new QHBoxLayout;
    noticeHeader->setSpacing(6);
    auto* noticeIcon = new QLabel(notice_);
    noticeIcon->setObjectName(QStringLiteral("noticeIcon"));
    noticeHeader->addWidget(noticeIcon);
    noticeTitle_ = makeLabel(QStringLiteral("Falta el permiso de Accesibilidad"), TextStyle::subheadline, notice_, "noticeTitle", true);
    noticeHeader->addWidget(noticeTitle_, 1);
    noticeColumn->addLayout(noticeHeader);
    noticeText_ = makeLabel(QStringLiteral("Es necesario para reconocer texto y controles de otras aplicaciones."), TextStyle::caption,
                            notice_, "noticeText");
    noticeText_->setWordWrap(true);
    noticeColumn->addWidget(noticeText_);
    auto* grant = new QPushButton(QStringLiteral("Conceder permiso"), notice_);
    grant->setObjectName(QStringLiteral("grantButton"));
    grant->setProperty("kind", QStringLiteral("bordered"));
    grant->setCursor(Qt::PointingHandCursor);
    grant->setFocusPolicy(Qt::TabFocus);
    connect(grant, &QPushButton::clicked, this, [this] {
        if (auto model = model_.lock()) model->requestAccessibility();
    });
    noticeColumn->addWidget(grant, 0, Qt::AlignLeft);
    column->addWidget(notice_);

    // 2. Select or cancel.
    selectionButton_ = new QPushButton(this);
    selectionButton_->setObjectName(QStringLiteral("selectionButton"));
    selectionButton_->setProperty("kind", QStringLiteral("prominent"));
    selectionButton_->setFont(Theme::font(TextStyle::headline));
    selectionButton_->setMinimumHeight(34);
    selectionButton_->setCursor(Qt::PointingHandCursor);
    selectionButton_->setFocusPolicy(Qt::TabFocus);
    connect(selectionButton_, &QPushButton::clicked, this, [this] {
        auto model = model_.lock();
        if (!model) return;
        if (model->isSelecting()) {
            model->cancelSelection();
            return;
        }
        model->handleActivationGesture();
        // Open until the action has an outcome: out of the way once a selection runs (on the
        // screen or in the browser), and a refusal is read here, in the error row.
        if (model->isSelecting()) {
            if (actions_.dismiss) actions_.dismiss();
        } else {
            refresh();
        }
    });
    column->addWidget(selectionButton_);

    // 3. Options.
    options_ = new GroupBox(this);
    options_->setObjectName(QStringLiteral("optionsGroup"));
    auto* optionsColumn = new QVBoxLayout(options_);
    optionsColumn->setContentsMargins(14, 14, 14, 14);
    optionsColumn->setSpacing(12);
    auto* toggleRow = new QHBoxLayout;
    auto* toggleTexts = new QVBoxLayout;
    toggleTexts->setSpacing(2);
    toggleTexts->addWidget(makeLabel(QStringLiteral("Gesto rápido"), TextStyle::subheadline, options_, "activationTitle", true));
    activationCaption_ = makeLabel(QStringLiteral("Sacude el puntero tres veces"), TextStyle::caption, options_, "activationCaption");
    toggleTexts->addWidget(activationCaption_);
    toggleRow->addLayout(toggleTexts, 1);
    activationToggle_ = new ToggleSwitch(options_);
    activationToggle_->setObjectName(QStringLiteral("activationToggle"));
    activationToggle_->setAccessibleName(QStringLiteral("Gesto rápido"));
    connect(activationToggle_, &ToggleSwitch::clicked, this, [this](bool on) {
        auto model = model_.lock();
        if (!model) return;
        try {
            model->defaults().setBool(Defaults::activationEnabled, on);
        } catch (const std::exception&) {
            // Unsaved: it still holds for this run.
        }
    });
    toggleRow->addWidget(activationToggle_, 0, Qt::AlignVCenter);
    // Where the desktop hides the pointer from us, the shake cannot be turned on here.
    if (!DesktopTriggers::shared().shakeUnavailable.isEmpty()) {
        activationToggle_->setEnabled(false);
        activationCaption_->setText(QStringLiteral("No disponible en Wayland: usa el atajo de teclado"));
    }
    optionsColumn->addLayout(toggleRow);
    optionsDivider_ = new QWidget(options_);
    optionsDivider_->setFixedHeight(1);
    optionsColumn->addWidget(optionsDivider_);
    auto* modeColumn = new QVBoxLayout;
    modeColumn->setSpacing(8);
    modeColumn->addWidget(makeLabel(QStringLiteral("Modo de respuesta"), TextStyle::subheadline, options_, "modeTitle", true));
    modePicker_ = new SegmentedControl(options_);
    modePicker_->setObjectName(QStringLiteral("modePicker"));
    modePicker_->setAccessibleName(QStringLiteral("Modo de respuesta"));
    for (AIResponseMode mode : AIResponseModes::allCases) {
        modePicker_->addSegment(QString::fromStdString(AIResponseModes::label(mode)), QString::fromStdString(AIResponseModes::rawValue(mode)));
    }
    connect(modePicker_, &SegmentedControl::currentChanged, this, [this](const QString& tag) {
        auto model = model_.lock();
        if (!model) return;
        try {
            model->defaults().setString(Defaults::aiResponseMode, tag.toStdString());
        } catch (const std::exception&) {
        }
    });
    modeColumn->addWidget(modePicker_);
    optionsColumn->addLayout(modeColumn);
    column->addWidget(options_);

    // 4. The last error, wrapped within the width.
    errorRow_ = new QWidget(this);
    errorRow_->setObjectName(QStringLiteral("errorRow"));
    // Read out as an alert when it appears (a refused selection answers here).
    Accessibility::setRole(errorRow_, QAccessible::AlertMessage);
    auto* errorLayout = new QHBoxLayout(errorRow_);
    errorLayout->setContentsMargins(12, 12, 12, 12);
    errorLayout->setSpacing(6);
    errorIcon_ = new QLabel(errorRow_);
    errorLayout->addWidget(errorIcon_, 0, Qt::AlignTop);
    errorLabel_ = makeLabel({}, TextStyle::caption, errorRow_, "errorLabel");
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The width left inside the menu: the label wraps instead of widening it.
    errorLabel_->setFixedWidth(width - 2 * 16 - 2 * 12 - 14 - 6);
    errorLayout->addWidget(errorLabel_, 1);
    column->addWidget(errorRow_);

    // 5. Footer.
    auto* footer = new QHBoxLayout;
    footer->setSpacing(14);
    settingsButton_ = new QPushButton(QStringLiteral("Ajustes"), this);
    settingsButton_->setObjectName(QStringLiteral("settingsButton"));
    settingsButton_->setProperty("kind", QStringLiteral("borderless"));
    settingsButton_->setCursor(Qt::PointingHandCursor);
    settingsButton_->setFocusPolicy(Qt::TabFocus);
    connect(settingsButton_, &QPushButton::clicked, this, [this] {
        if (actions_.dismiss) actions_.dismiss();
        if (actions_.openSettings) actions_.openSettings();
        if (auto model = model_.lock()) model->bringSettingsToFront();
    });
    footer->addWidget(settingsButton_);
    footer->addStretch(1);
    quitButton_ = new QPushButton(QStringLiteral("Salir"), this);
    quitButton_->setObjectName(QStringLiteral("quitButton"));
    quitButton_->setProperty("kind", QStringLiteral("borderless"));
    quitButton_->setCursor(Qt::PointingHandCursor);
    quitButton_->setFocusPolicy(Qt::TabFocus);
    connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (actions_.quit) actions_.quit();
    });
    footer->addWidget(quitButton_);
    column->addLayout(footer);

    observer_ = new ModelObserver([this] { refresh(); }, this);
    if (auto shared = model_.lock()) {
        observer_->watchObservable(shared);
        std::weak_ptr<AppModel> weak = shared;
        // The two settings may change elsewhere (the settings window), on any thread.
        observer_->watch([weak](std::function<void()> notify) -> std::function<void()> {
            auto model = weak.lock();
            if (!model) return [] {};
            const auto token = model->defaults().addObserver([notify](const std::string& key) {
                if (key == Defaults::activationEnabled || key == Defaults::aiResponseMode) notify();
            });
            return [weak, token] {
                if (auto m = weak.lock()) m->defaults().removeObserver(token);
            };
        });
    }
    connect(&Theme::shared(), &Theme::changed, this, [this] { applyTheme(); });
    applyTheme();
}

MenuBarView::~MenuBarView() = default;

void MenuBarView::applyTheme()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    theme.apply(this);
    const QString secondary = QStringLiteral("color: %1;").arg(c.secondaryText.name());
    noticeText_->setStyleSheet(secondary);
    activationCaption_->setStyleSheet(secondary);
    errorLabel_->setStyleSheet(QStringLiteral("color: %1;").arg(c.orange.name()));
    errorIcon_->setPixmap(Symbols::pixmap("exclamationmark.circle.fill", c.orange, 14, devicePixelRatioF()));
    findChild<QLabel*>(QStringLiteral("noticeIcon"))->setPixmap(Symbols::pixmap("hand.raised.fill", c.text, 15, devicePixelRatioF()));
    QColor divider = c.text;
    divider.setAlphaF(theme.isDark() ? 0.2f : 0.15f);
    optionsDivider_->setStyleSheet(QStringLiteral("background: %1;").arg(divider.name(QColor::HexArgb)));
    setLabelSymbol(settingsButton_, "gearshape", c.text, 15);
    setLabelSymbol(quitButton_, "power", c.secondaryText, 15);
    quitButton_->setStyleSheet(secondary);
    selecting_ = !selecting_; // redraw the selection button's icon
    refresh();
}

void MenuBarView::refresh()
{
    auto model = model_.lock();
    if (!model) return;
    notice_->setVisible(!model->permissionState().accessibility);

    const bool selecting = model->isSelecting();
    if (selecting != selecting_ || selectionButton_->text().isEmpty()) {
        selecting_ = selecting;
        selectionButton_->setText(selecting ? QStringLiteral("Cancelar selección") : QStringLiteral("Seleccionar en pantalla"));
        setLabelSymbol(selectionButton_, selecting ? "xmark" : "viewfinder", Theme::shared().colors().accentText, 16);
    }

    activationToggle_->setChecked(model->defaults().boolForKey(Defaults::activationEnabled));
    modePicker_->setCurrentTag(QString::fromStdString(model->defaults().stringForKey(Defaults::aiResponseMode).value_or("")));

    const auto& error = model->lastError();
    errorRow_->setVisible(error.has_value());
    if (error) {
        errorLabel_->setText(QString::fromStdString(*error));
        errorRow_->setAccessibleName(errorLabel_->text());
    }
    adjustSize();
}

} // namespace zorvane::ui
