#include "app/ui/onboarding/OnboardingView.h"

#include "app/core/Defaults.h"
#include "app/ui/Controls.h"
#include "app/ui/Symbols.h"
#include "app/ui/DesktopTriggers.h"
#include "app/ui/settings/ShortcutRow.h"
#include "app/ui/settings/SettingsForm.h"

#include <algorithm>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QVariantAnimation>

#include <cmath>

namespace zorvane::ui {
namespace {

const QColor blue(0x35, 0x84, 0xe4);
// The width inside a step's margins: wider text would sit off centre.
constexpr int titleWidth = 560;

QFont sized(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = Theme::font(TextStyle::body);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// Centred text in a column of `width`, so wrapping happens at that width and not earlier.
QLabel* centred(QLabel* label, int width)
{
    label->setAlignment(Qt::AlignHCenter);
    label->setFixedWidth(width);
    label->setProperty("centred", true);
    return label;
}

QLabel* named(QLabel* label, const char* name)
{
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// The tinted circle behind the first step's symbol.
class TintedCircle : public QWidget {
public:
    explicit TintedCircle(QWidget* parent) : QWidget(parent) { setFixedSize(132, 132); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = blue;
        fill.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(rect());
    }
};

QVBoxLayout* column(QWidget* page, int spacing, Qt::Alignment alignment)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(48, 12, 48, 12);
    layout->setSpacing(spacing);
    layout->setAlignment(alignment);
    return layout;
}

} // namespace

StepIndicator::StepIndicator(int count, QWidget* parent) : QWidget(parent), count_(count), animation_(new QVariantAnimation(this))
{
    setObjectName(QStringLiteral("stepIndicator"));
    animation_->setDuration(260);
    animation_->setEasingCurve(QEasingCurve::InOutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        position_ = value.toDouble();
        update();
    });
    setFixedSize(sizeHint());
}

QSize StepIndicator::sizeHint() const { return {26 + (count_ - 1) * 8 + (count_ - 1) * 6, 8}; }

void StepIndicator::setStep(int step)
{
    animation_->stop();
    if (!isVisible()) {
        position_ = step;
        update();
        return;
    }
    animation_->setStartValue(position_);
    animation_->setEndValue(static_cast<double>(step));
    animation_->start();
}

void StepIndicator::paintEvent(QPaintEvent*)
{
    const ThemeColors& colors = Theme::shared().colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor later = colors.secondaryText;
    later.setAlphaF(0.22f);
    double x = 0;
    for (int i = 0; i < count_; ++i) {
        // Width and colour follow how close the animated position is to this capsule.
        const double nearness = std::max(0.0, 1.0 - std::abs(i - position_));
        const double width = 8 + 18 * nearness;
        const double done = std::clamp(position_ - i + 1, 0.0, 1.0);
        QColor fill;
        fill.setRgbF(static_cast<float>(later.redF() + (colors.accent.redF() - later.redF()) * done),
            static_cast<float>(later.greenF() + (colors.accent.greenF() - later.greenF()) * done),
            static_cast<float>(later.blueF() + (colors.accent.blueF() - later.blueF()) * done),
            static_cast<float>(later.alphaF() + (1.0 - later.alphaF()) * done));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(x, 0, width, 8), 4, 4);
        x += width + 6;
    }
}

OnboardingView::OnboardingView(std::shared_ptr<AppModel> model, std::function<void()> finish, QWidget* parent)
    : QWidget(parent), model_(model), finish_(std::move(finish))
{
    setObjectName(QStringLiteral("onboardingView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 22, 28, 22);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    steps_ = new QStackedWidget(this);
    steps_->setObjectName(QStringLiteral("onboardingSteps"));
    steps_->addWidget(makeWelcome());
    steps_->addWidget(makePermissions());
    steps_->addWidget(makeBrowser());
    steps_->addWidget(makeReady());
    layout->addWidget(steps_, 1);
    layout->addWidget(makeFooter());

    // Permission rows turn green when the user comes back from the system's settings.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible())
            if (auto model = model_.lock()) model->refreshPermissions(0);
    });
    watcher_ = new ChangeWatcher(this, [this] {
        restyle();
        sync();
    });
    watcher_->watch(model);
    watcher_->watch(std::shared_ptr<UserDefaults>(model, &model->defaults()));
    setStep(0);
    restyle();
    sync();
}

OnboardingView::~OnboardingView() = default;

void OnboardingView::keyPressEvent(QKeyEvent* event)
{
    if (pressFocusedButton(window(), event)) return;
    // Elsewhere Return goes on, as the window's default button.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & ~Qt::KeypadModifier)) {
        primary_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

OnboardingPermissionRow::OnboardingPermissionRow(
    const char* symbol, const QString& title, const QString& detail, std::function<void()> action, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(symbolLabel(symbol, Theme::shared().colors().text, 22, 28, this), 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = textLabel(title, TextStyle::body, false, this);
    QFont font = titleLabel->font();
    font.setWeight(QFont::DemiBold);
    titleLabel->setFont(font);
    texts->addWidget(titleLabel);
    texts->addWidget(textLabel(detail, TextStyle::callout, true, this));
    layout->addLayout(texts, 1);
    granted_ = new QWidget(this);
    granted_->setObjectName(QStringLiteral("grantedLabel"));
    auto* grantedLayout = new QHBoxLayout(granted_);
    grantedLayout->setContentsMargins(0, 0, 0, 0);
    grantedLayout->setSpacing(6);
    grantedSymbol_ = new QLabel(granted_);
    grantedSymbol_->setFixedSize(16, 16);
    grantedLayout->addWidget(grantedSymbol_);
    grantedText_ = named(textLabel(QStringLiteral("Concedido"), TextStyle::callout, false, granted_), "grantedText");
    grantedText_->setWordWrap(false);
    grantedLayout->addWidget(grantedText_);
    layout->addWidget(granted_, 0, Qt::AlignVCenter);
    allow_ = styledButton(QStringLiteral("Permitir"), "bordered", "allowButton", this);
    allow_->setAccessibleName(QStringLiteral("Permitir ") + title);
    layout->addWidget(allow_, 0, Qt::AlignVCenter);
    connect(allow_, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    setGranted(false);
}

void OnboardingPermissionRow::setGranted(bool granted)
{
    isGranted_ = granted;
    const QColor green = Theme::shared().colors().green;
    setSymbol(grantedSymbol_, "checkmark.circle.fill", green, 16);
    grantedText_->setStyleSheet(QStringLiteral("color: %1;").arg(green.name()));
    granted_->setVisible(granted);
    allow_->setVisible(!granted);
}

void OnboardingView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    restyle(); // again now that the view sits in its window and surface
    if (auto model = model_.lock()) {
        model->refreshPermissions(0);
        model->refreshCodexStatus();
    }
}

QWidget* OnboardingView::makeHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("onboardingHeader"));
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    headerSymbol_ = new QLabel(header);
    headerSymbol_->setFixedSize(42, 42);
    headerSymbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(headerSymbol_);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(textLabel(QStringLiteral("Zorvane"), TextStyle::headline, false, header));
    titles->addWidget(textLabel(QStringLiteral("Configuración inicial"), TextStyle::caption, true, header));
    layout->addLayout(titles);
    layout->addStretch(1);
    indicator_ = new StepIndicator(stepCount, header);
    layout->addWidget(indicator_, 0, Qt::AlignVCenter);
    return header;
}

QWidget* OnboardingView::makeWelcome()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("welcomeStep"));
    auto* layout = column(page, 22, Qt::AlignCenter);
    auto* circle = new TintedCircle(page);
    auto* circleLayout = new QVBoxLayout(circle);
    circleLayout->setContentsMargins(0, 0, 0, 0);
    welcomeSymbol_ = new QLabel(circle);
    welcomeSymbol_->setAlignment(Qt::AlignCenter);
    circleLayout->addWidget(welcomeSymbol_);
    layout->addWidget(circle, 0, Qt::AlignHCenter);
    auto* title = centred(textLabel(QStringLiteral("Pregunta sobre cualquier cosa en tu pantalla"), TextStyle::body), titleWidth);
    title->setFont(sized(28, QFont::Bold));
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto* text = centred(textLabel(QStringLiteral("Sacude el puntero, elige una imagen o bloque y pregunta a Codex sin salir de la "
                                                  "aplicación en la que estás."),
                             TextStyle::body, true),
        540);
    text->setFont(sized(18));
    layout->addWidget(text, 0, Qt::AlignHCenter);
    return page;
}

QWidget* OnboardingView::makePermissions()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("permissionsStep"));
    auto* layout = column(page, 18, Qt::AlignVCenter);

    auto* heading = new QWidget(page);
    auto* headingLayout = new QHBoxLayout(heading);
    headingLayout->setContentsMargins(0, 0, 0, 0);
    headingLayout->setSpacing(12);
    permissionsSymbol_ = new QLabel(heading);
    permissionsSymbol_->setFixedSize(44, 44);
    permissionsSymbol_->setAlignment(Qt::AlignCenter);
    headingLayout->addWidget(permissionsSymbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* title = textLabel(QStringLiteral("Permisos del sistema"), TextStyle::body, false, heading);
    title->setFont(sized(22, QFont::Bold));
    texts->addWidget(title);
    texts->addWidget(textLabel(QStringLiteral("Zorvane necesita dos permisos para reconocer y capturar únicamente lo que eliges."),
        TextStyle::body, true, heading));
    headingLayout->addLayout(texts, 1);
    layout->addWidget(heading);

    auto* rows = new FormSection(QString(), page);
    rows->findChild<QLabel*>(QStringLiteral("sectionTitle"))->hide();
    accessibility_ = new OnboardingPermissionRow("accessibility", QStringLiteral("Accesibilidad"),
        QStringLiteral("Detecta controles y elementos bajo el cursor."), [this] {
            if (auto model = model_.lock()) model->requestAccessibility();
        });
    accessibility_->setObjectName(QStringLiteral("accessibilityRow"));
    rows->addRow(accessibility_);
    screenRecording_ = new OnboardingPermissionRow("rectangle.dashed.badge.record", QStringLiteral("Grabación de pantalla"),
        QStringLiteral("Crea la imagen exacta de la selección."), [this] {
            if (auto model = model_.lock()) model->requestScreenRecording();
        });
    screenRecording_->setObjectName(QStringLiteral("screenRecordingRow"));
    rows->addRow(screenRecording_);
    layout->addWidget(rows);

    QString note = QStringLiteral("Puede que tengas que cerrar y volver a abrir Zorvane después de conceder un permiso.");
    if (!DesktopTriggers::shared().captureNote.isEmpty()) note = DesktopTriggers::shared().captureNote;
    auto* footnote = new QWidget(page);
    auto* footnoteLayout = new QHBoxLayout(footnote);
    footnoteLayout->setContentsMargins(2, 0, 0, 0);
    footnoteLayout->setSpacing(8);
    footnoteSymbol_ = new QLabel(footnote);
    footnoteSymbol_->setFixedSize(16, 16);
    footnoteLayout->addWidget(footnoteSymbol_, 0, Qt::AlignTop);
    footnoteLayout->addWidget(named(textLabel(note, TextStyle::callout, true, footnote), "permissionsNote"), 1);
    layout->addWidget(footnote);
    return page;
}

QWidget* OnboardingView::makeBrowser()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("browserStep"));
    auto* layout = column(page, 18, Qt::AlignCenter);
    browserSymbol_ = named(new QLabel(page), "browserSymbol");
    browserSymbol_->setFixedSize(72, 72);
    browserSymbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(browserSymbol_, 0, Qt::AlignHCenter);
    browserTitle_ = named(centred(textLabel({}, TextStyle::body, false, page), titleWidth), "browserTitle");
    browserTitle_->setFont(sized(28, QFont::Bold));
    layout->addWidget(browserTitle_, 0, Qt::AlignHCenter);
    browserText_ = named(centred(textLabel({}, TextStyle::body, true, page), 520), "browserText");
    browserText_->setFont(sized(18));
    layout->addWidget(browserText_, 0, Qt::AlignHCenter);
    setUpBrowser_ = styledButton(QStringLiteral("Configurar navegador"), "prominent", "setUpBrowserButton", page);
    setUpBrowser_->setFont(sized(15, QFont::DemiBold));
    setUpBrowser_->setMinimumHeight(36);
    layout->addWidget(setUpBrowser_, 0, Qt::AlignHCenter);
    connect(setUpBrowser_, &QPushButton::clicked, this, [this] {
        if (auto model = model_.lock()) model->prepareBrowserExtension();
    });
    setUpCaption_ = centred(textLabel(QStringLiteral("Después: activa Modo desarrollador, pulsa Cargar descomprimida y elige la "
                                                     "carpeta resaltada."),
                                TextStyle::callout, true, page),
        520);
    layout->addWidget(setUpCaption_, 0, Qt::AlignHCenter);
    return page;
}

QWidget* OnboardingView::makeReady()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("readyStep"));
    auto* layout = column(page, 22, Qt::AlignCenter);
    readySymbol_ = new QLabel(page);
    readySymbol_->setFixedSize(76, 76);
    readySymbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(readySymbol_, 0, Qt::AlignHCenter);
    // The seal arrives with a small bounce.
    readyBounce_ = new QVariantAnimation(this);
    readyBounce_->setDuration(450);
    readyBounce_->setStartValue(36);
    readyBounce_->setEndValue(68);
    readyBounce_->setEasingCurve(QEasingCurve::OutBack);
    connect(readyBounce_, &QVariantAnimation::valueChanged, this, [this](const QVariant& points) {
        setSymbol(readySymbol_, "checkmark.seal.fill", Theme::shared().colors().green, points.toInt());
    });
    auto* title = centred(textLabel(QStringLiteral("Todo listo"), TextStyle::body, false, page), titleWidth);
    title->setFont(sized(30, QFont::Bold));
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(centred(textLabel(QStringLiteral("Elige cómo quieres que Codex responda. Puedes cambiarlo después en Ajustes."),
                                  TextStyle::body, true, page),
                          540),
        0, Qt::AlignHCenter);
    mode_ = new SegmentedControl(page);
    mode_->setObjectName(QStringLiteral("modePicker"));
    mode_->setAccessibleName(QStringLiteral("Modo de IA"));
    mode_->setFixedWidth(360);
    for (AIResponseMode mode : AIResponseModes::allCases)
        mode_->addSegment(QString::fromStdString(AIResponseModes::label(mode)), QString::fromStdString(AIResponseModes::rawValue(mode)),
            AIResponseModes::symbol(mode));
    connect(mode_, &SegmentedControl::currentChanged, this,
        [this](const QString& tag) {
            if (auto model = model_.lock()) model->defaults().setString(Defaults::aiResponseMode, tag.toStdString());
        });
    layout->addWidget(mode_, 0, Qt::AlignHCenter);
    modeDescription_ = named(centred(textLabel({}, TextStyle::callout, true, page), 540), "modeDescription");
    layout->addWidget(modeDescription_, 0, Qt::AlignHCenter);
    auto* hint = new QWidget(page);
    auto* hintLayout = new QHBoxLayout(hint);
    hintLayout->setContentsMargins(0, 0, 0, 0);
    hintLayout->setSpacing(8);
    hintSymbol_ = new QLabel(hint);
    hintSymbol_->setFixedSize(16, 16);
    hintLayout->addWidget(hintSymbol_);
    auto* hintText = textLabel(QStringLiteral("Sacude el puntero de lado a lado tres veces para empezar."), TextStyle::callout, true, hint);
    hintText->setWordWrap(false);
    hintLayout->addWidget(hintText);
    layout->addWidget(hint, 0, Qt::AlignHCenter);
    // Without the shake on this desktop, the keyboard shortcut is how to begin; GNOME's is added here
    // on request (the others are described in the settings).
    if (!DesktopTriggers::shared().shakeUnavailable.isEmpty()) {
        hintText->setText(QStringLiteral("Empieza con el atajo de teclado o desde el menú de Zorvane."));
        if (QWidget* shortcut = DesktopTriggers::shared().customShortcut ? makeShortcutRow() : nullptr) {
            shortcut->setFixedWidth(560);
            layout->addWidget(shortcut, 0, Qt::AlignHCenter);
        }
        if (QWidget* helper = makeHelperRow()) {
            helper->setFixedWidth(560);
            layout->addWidget(helper, 0, Qt::AlignHCenter);
        }
    }
    return page;
}

QWidget* OnboardingView::makeFooter()
{
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("onboardingFooter"));
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(0, 0, 0, 0);
    back_ = styledButton(QStringLiteral("Atrás"), "borderless", "backButton", footer);
    layout->addWidget(back_);
    layout->addStretch(1);
    primary_ = styledButton(QString(), "prominent", "primaryButton", footer);
    primary_->setMinimumWidth(120);
    layout->addWidget(primary_);
    connect(back_, &QPushButton::clicked, this, [this] { setStep(step_ - 1); });
    connect(primary_, &QPushButton::clicked, this, [this] {
        if (step_ < stepCount - 1) {
            setStep(step_ + 1);
            return;
        }
        if (auto model = model_.lock()) model->defaults().setInteger(Defaults::onboardingVersion, Defaults::currentOnboardingVersion);
        if (finish_) finish_();
    });
    return footer;
}

void OnboardingView::setStep(int step)
{
    step_ = std::clamp(step, 0, stepCount - 1);
    steps_->setCurrentIndex(step_);
    indicator_->setStep(step_);
    back_->setVisible(step_ >= 1);
    if (step_ == stepCount - 1 && isVisible()) readyBounce_->start();
    primary_->setText(step_ >= stepCount - 1 ? QStringLiteral("Usar Zorvane")
                                             : (step_ == 0 ? QStringLiteral("Empezar") : QStringLiteral("Continuar")));
}

void OnboardingView::restyle()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    // On the view itself: it is made before it is put into its window.
    theme.apply(this);
    setStyleSheet(windowStyleSheet());
    setSymbol(headerSymbol_, "sparkles.rectangle.stack.fill", c.accent, 20);
    setSymbol(welcomeSymbol_, "cursorarrow.motionlines.click", blue, 58);
    setSymbol(permissionsSymbol_, "hand.raised.fill", c.accent, 28);
    setSymbol(footnoteSymbol_, "info.circle", c.secondaryText, 14);
    setSymbol(readySymbol_, "checkmark.seal.fill", c.green, 68);
    setSymbol(hintSymbol_, "cursorarrow.motionlines", c.secondaryText, 14);
    retintSymbols(this);
    indicator_->update();
}

void OnboardingView::sync()
{
    const ThemeColors& colors = Theme::shared().colors();
    const auto model = model_.lock();
    if (!model) return;
    const PermissionState& permissions = model->permissionState();
    accessibility_->setGranted(permissions.accessibility);
    screenRecording_->setGranted(permissions.screenRecording);

    const bool connected = model->browserExtensionConnected();
    setSymbol(browserSymbol_, connected ? "checkmark.circle.fill" : "globe", connected ? colors.green : colors.accent, 58);
    browserTitle_->setText(connected ? QStringLiteral("Navegador conectado") : QStringLiteral("Conecta tu navegador"));
    browserText_->setText(connected
            ? QStringLiteral("Ya puedes seleccionar imágenes y bloques concretos dentro de una página web.")
            : QStringLiteral("Zorvane preparará todo y abrirá la pantalla correcta de Chrome, Chromium, Edge o Brave."));
    setUpBrowser_->setVisible(!connected);
    setUpCaption_->setVisible(!connected);

    const std::string stored = model->defaults().stringForKey(Defaults::aiResponseMode).value_or("fast");
    mode_->setCurrentTag(QString::fromStdString(stored));
    const auto mode = AIResponseModes::fromRawValue(stored);
    modeDescription_->setText(mode ? QString::fromStdString(AIResponseModes::description(*mode)) : QString());

    // Fixed-width wrapped text gets the height its lines need (Qt answers -1 for an empty label).
    for (QLabel* label : findChildren<QLabel*>())
        if (label->property("centred").toBool()) label->setMinimumHeight(std::max(0, label->heightForWidth(label->width())));
}

} // namespace zorvane::ui
