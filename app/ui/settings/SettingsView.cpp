#include "app/ui/settings/SettingsView.h"

#include "app/core/Defaults.h"
#include "app/core/Text.h"
#include "app/ui/Accessibility.h"
#include "app/ui/Controls.h"
#include "app/ui/Language.h"
#include "app/ui/Symbols.h"
#include "app/ui/DesktopTriggers.h"
#include "app/ui/settings/ShortcutRow.h"
#include "app/ui/settings/SettingsForm.h"
#include "app/ui/settings/SpeechModelSection.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <cmath>

namespace zorvane::ui {
namespace {

struct TabInfo {
    const char* name;
    const char* label;
    const char* symbol;
};
constexpr TabInfo tabInfo[] = {
    {"general", "General", "slider.horizontal.3"},
    {"ai", "IA", "sparkles"},
    {"voice", "Voz", "waveform"},
    {"web", "Web", "globe"},
    {"privacy", "Privacidad", "hand.raised"},
};

const QString loginItemFailed = QStringLiteral("No se pudo cambiar el inicio automático: ");

// A tab's page: its sections stacked in a scroll area.
QWidget* page(const QString& name, const std::vector<QWidget*>& sections)
{
    auto* content = new QWidget;
    content->setObjectName(name + QStringLiteral("Content"));
    content->setProperty("formContent", true);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->setSpacing(18);
    for (QWidget* section : sections) layout->addWidget(section);
    layout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(name + QStringLiteral("Tab"));
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // the keyboard goes to the controls; the page follows them
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

ToggleSwitch* toggle(const char* name)
{
    auto* control = new ToggleSwitch;
    control->setObjectName(QString::fromLatin1(name));
    control->setCursor(Qt::PointingHandCursor);
    return control;
}

QLabel* named(QLabel* label, const char* name)
{
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// A toggle's row: its title at the leading end, the switch at the trailing end.
QWidget* toggleRow(FormSection* section, const QString& title, ToggleSwitch* control)
{
    auto* label = textLabel(title, TextStyle::body);
    label->setBuddy(control);
    control->setAccessibleName(title);
    return section->addRow(label, control);
}

} // namespace

SettingsView::SettingsView(std::shared_ptr<AppModel> model, std::function<void()> openOnboarding, QWidget* parent)
    : QWidget(parent), model_(model), openOnboarding_(std::move(openOnboarding))
{
    setObjectName(QStringLiteral("settingsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("settingsTabBar"));
    Accessibility::setRole(bar, QAccessible::PageTabList);
    bar->setAccessibleName(QStringLiteral("Ajustes"));
    auto* tabKeys = new ChoiceKeys(bar);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(12, 8, 12, 6);
    barLayout->setSpacing(4);
    barLayout->addStretch(1);
    tabs_ = new QButtonGroup(this);
    tabs_->setExclusive(true);
    for (int i = 0; i < 5; ++i) {
        auto* button = new QToolButton(bar);
        button->setObjectName(QStringLiteral("tab:") + QString::fromLatin1(tabInfo[i].name));
        button->setProperty("settingsTab", true);
        Accessibility::setRole(button, QAccessible::PageTab);
        button->setText(QString::fromUtf8(tabInfo[i].label));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(22, 22));
        button->setCheckable(true);
        button->setMinimumWidth(72);
        button->setCursor(Qt::PointingHandCursor);
        tabs_->addButton(button, i);
        barLayout->addWidget(button);
        tabKeys->add(button);
    }
    barLayout->addStretch(1);
    layout->addWidget(bar);
    auto* rule = new QFrame(this);
    rule->setObjectName(QStringLiteral("settingsRule"));
    rule->setFixedHeight(1);
    layout->addWidget(rule);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(makeGeneralTab());
    pages_->addWidget(makeAITab());
    pages_->addWidget(makeVoiceTab());
    pages_->addWidget(makeWebTab());
    pages_->addWidget(makePrivacyTab());
    layout->addWidget(pages_, 1);
    connect(tabs_, &QButtonGroup::idClicked, this, &SettingsView::selectTab);
    selectTab(0);

    watcher_ = new ChangeWatcher(this, [this] {
        restyle();
        sync();
    });
    watcher_->watch(model);
    watcher_->watch(model->updates());
    watcher_->watch(std::shared_ptr<UserDefaults>(model, &model->defaults()));
    restyle();
    sync();
}

SettingsView::~SettingsView() = default;

void SettingsView::selectTab(int index)
{
    if (index < 0 || index >= pages_->count()) return;
    tabs_->button(index)->setChecked(true);
    pages_->setCurrentIndex(index);
    const ThemeColors& colors = Theme::shared().colors();
    for (int i = 0; i < 5; ++i)
        tabs_->button(i)->setIcon(Symbols::icon(tabInfo[i].symbol, i == index ? colors.accent : colors.secondaryText, 22));
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    if (!pressFocusedButton(window(), event)) QWidget::keyPressEvent(event);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (auto model = model_.lock()) {
        model->refreshPermissions(0);
        model->refreshCodexStatus();
    }
    sync();
}

QWidget* SettingsView::makeGeneralTab()
{
    const ThemeColors& colors = Theme::shared().colors();

    auto* activation = new FormSection(QStringLiteral("Activación"));
    activation_ = toggle("activationToggle");
    toggleRow(activation, QStringLiteral("Activar al sacudir el puntero"), activation_);
    connect(activation_, &QAbstractButton::clicked, this,
        [this](bool on) { if (auto model = model_.lock()) model->defaults().setBool(Defaults::activationEnabled, on); });
    // Where the desktop hides the pointer from us, the keyboard shortcut stands in for the shake.
    const DesktopTriggers& triggers = DesktopTriggers::shared();
    if (!triggers.shakeUnavailable.isEmpty()) {
        activation_->setEnabled(false);
        activation->addRow(named(textLabel(triggers.shakeUnavailable, TextStyle::caption, true), "shakeUnavailable"));
    }
    if (QWidget* shortcut = makeShortcutRow()) activation->addRow(shortcut);
    if (QWidget* helper = makeHelperRow()) activation->addRow(helper);
    launchAtLogin_ = toggle("launchAtLoginToggle");
    toggleRow(activation, QStringLiteral("Abrir Zorvane al iniciar sesión"), launchAtLogin_);
    launchAtLoginError_ = named(textLabel({}, TextStyle::caption), "launchAtLoginError");
    launchAtLoginError_->hide();
    activation->addFooter(launchAtLoginError_);
    connect(launchAtLogin_, &QAbstractButton::clicked, this, [this](bool on) {
        const auto model = model_.lock();
        if (!model) return;
        model->setLaunchAtLogin(on);
        // The toggle shows the real state; a refusal is explained under it.
        const auto& error = model->lastError();
        const bool failed = model->launchAtLoginEnabled() != on && error
            && QString::fromStdString(*error).startsWith(loginItemFailed);
        launchAtLoginError_->setText(failed ? QString::fromStdString(*error) : QString());
        launchAtLoginError_->setVisible(failed);
        sync();
    });

    auto* gesture = new FormSection(QStringLiteral("Sensibilidad del gesto"));
    sensitivityCaption_ = named(textLabel({}, TextStyle::body, true), "sensitivityCaption");
    sensitivityCaption_->setWordWrap(false);
    gesture->addRow(titledRow("cursorarrow.motionlines", colors.text, QStringLiteral("Sacudida del puntero")), sensitivityCaption_);
    auto* sliderRow = new QWidget;
    auto* sliderLayout = new QHBoxLayout(sliderRow);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    sliderLayout->setSpacing(10);
    sensitivity_ = new QSlider(Qt::Horizontal);
    sensitivity_->setObjectName(QStringLiteral("sensitivitySlider"));
    sensitivity_->setAccessibleName(QStringLiteral("Sensibilidad"));
    sensitivity_->setRange(0, 20); // 0 to 1 in steps of 0.05
    sensitivity_->setPageStep(2);
    sliderLayout->addWidget(symbolLabel("tortoise", colors.secondaryText, 16, 20));
    sliderLayout->addWidget(sensitivity_, 1);
    sliderLayout->addWidget(symbolLabel("hare", colors.secondaryText, 16, 20));
    gesture->addRow(sliderRow);
    connect(sensitivity_, &QSlider::valueChanged, this, [this](int value) {
        // Only the user moves it: sync() sets it with its signals blocked.
        if (auto model = model_.lock()) model->defaults().setDouble(Defaults::motionThreshold, Defaults::threshold(value / 20.0));
    });
    gesture->addFooter(textLabel(QStringLiteral("Zorvane exige al menos tres cambios rápidos de dirección. Derecha facilita la "
                                                "sacudida; izquierda evita aún más activaciones accidentales."),
        TextStyle::caption, true));

    auto* smart = new FormSection(QStringLiteral("Selección inteligente"));
    smart->addRow(titledRow("photo.on.rectangle.angled", colors.text, QStringLiteral("Siempre se envía una imagen"),
        QStringLiteral("Accesibilidad solo delimita el elemento bajo el cursor. Codex recibe una captura de ese rectángulo, "
                       "nunca el texto extraído del sistema.")));

    auto* help = new FormSection(QStringLiteral("Ayuda"));
    auto* openOnboarding = styledButton(QStringLiteral("Abrir primeros pasos"), "bordered", "openOnboardingButton");
    help->addRow(titledRow("graduationcap", colors.text, QStringLiteral("Instalación y permisos")), openOnboarding);
    connect(openOnboarding, &QPushButton::clicked, this, [this] {
        if (openOnboarding_) openOnboarding_();
    });

    auto* updates = new FormSection(QStringLiteral("Actualizaciones"));
    installedVersion_ = named(textLabel({}, TextStyle::body, true), "installedVersion");
    installedVersion_->setWordWrap(false);
    updates->addRow(textLabel(QStringLiteral("Versión instalada"), TextStyle::body), installedVersion_);
    automaticChecks_ = toggle("automaticChecksToggle");
    toggleRow(updates, QStringLiteral("Buscar actualizaciones automáticamente"), automaticChecks_);
    connect(automaticChecks_, &QAbstractButton::clicked, this, [this](bool on) {
        if (auto model = model_.lock()) model->updates()->setAutomaticallyChecksForUpdates(on);
        sync();
    });
    automaticDownloads_ = toggle("automaticDownloadsToggle");
    toggleRow(updates, QStringLiteral("Descargar e instalar automáticamente"), automaticDownloads_);
    connect(automaticDownloads_, &QAbstractButton::clicked, this, [this](bool on) {
        if (auto model = model_.lock()) model->updates()->setAutomaticallyDownloadsUpdates(on);
        sync();
    });
    updateCaption_ = named(textLabel({}, TextStyle::caption, true), "updateCaption");
    checkNow_ = styledButton(QStringLiteral("Buscar ahora"), "bordered", "checkNowButton");
    updates->addRow(updateCaption_, checkNow_);
    // The updater says nothing when a check ends: look again until the button can be used again.
    auto* poll = new QTimer(this);
    poll->setInterval(500);
    connect(poll, &QTimer::timeout, this, [this, poll] {
        sync();
        const auto model = model_.lock();
        if (!model || model->updates()->canCheckForUpdates()) poll->stop();
    });
    connect(checkNow_, &QPushButton::clicked, this, [this, poll] {
        const auto model = model_.lock();
        if (!model) return;
        model->updates()->checkForUpdates();
        sync();
        poll->start();
    });
    return page(QStringLiteral("general"), {activation, gesture, smart, help, updates});
}

QWidget* SettingsView::makeAITab()
{
    const ThemeColors& colors = Theme::shared().colors();
    auto* section = new FormSection(QStringLiteral("Modo de respuesta"));
    mode_ = new SegmentedControl;
    mode_->setObjectName(QStringLiteral("modePicker"));
    mode_->setAccessibleName(QStringLiteral("Modo"));
    for (AIResponseMode mode : AIResponseModes::allCases) {
        mode_->addSegment(QString::fromStdString(AIResponseModes::label(mode)), QString::fromStdString(AIResponseModes::rawValue(mode)),
            AIResponseModes::symbol(mode));
    }
    mode_->setFixedWidth(240);
    section->addRow(textLabel(QStringLiteral("Modo"), TextStyle::body), mode_);
    connect(mode_, &SegmentedControl::currentChanged, this,
        [this](const QString& tag) { if (auto model = model_.lock()) model->defaults().setString(Defaults::aiResponseMode, tag.toStdString()); });

    modeRow_ = new QWidget;
    modeRow_->setObjectName(QStringLiteral("modeRow"));
    auto* rowLayout = new QHBoxLayout(modeRow_);
    rowLayout->setContentsMargins(0, 8, 0, 8);
    rowLayout->setSpacing(14);
    modeSymbol_ = new QLabel;
    modeSymbol_->setFixedSize(38, 38);
    modeSymbol_->setAlignment(Qt::AlignCenter);
    rowLayout->addWidget(modeSymbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    modeTitle_ = named(textLabel({}, TextStyle::headline), "modeTitle");
    modeDescription_ = named(textLabel({}, TextStyle::callout, true), "modeDescription");
    texts->addWidget(modeTitle_);
    texts->addWidget(modeDescription_);
    rowLayout->addLayout(texts, 1);
    section->addRow(modeRow_);

    auto* footer = new QWidget;
    auto* footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(0, 0, 0, 0);
    footerLayout->setSpacing(4);
    for (auto [symbol, text] : {std::pair {"bolt", "Fast usa GPT-5.6 Luna sin razonamiento prolongado."},
             std::pair {"brain.head.profile", "Thinking usa razonamiento alto para analizar más."}}) {
        auto* line = new QWidget;
        auto* lineLayout = new QHBoxLayout(line);
        lineLayout->setContentsMargins(0, 0, 0, 0);
        lineLayout->setSpacing(6);
        lineLayout->addWidget(symbolLabel(symbol, colors.secondaryText, 12, 14));
        lineLayout->addWidget(textLabel(QString::fromUtf8(text), TextStyle::caption, true), 1);
        footerLayout->addWidget(line);
    }
    footerLayout->addWidget(textLabel(QStringLiteral("Ambos modos usan la sesión local de ChatGPT configurada en Codex. El "
                                                     "ajuste no activa claves API ni cambia de cuenta."),
        TextStyle::caption, true));
    section->addFooter(footer);
    return page(QStringLiteral("ai"), {section});
}

QWidget* SettingsView::makeVoiceTab()
{
    auto* dictation = new FormSection(QStringLiteral("Dictado"));
    voice_ = toggle("voiceToggle");
    toggleRow(dictation, QStringLiteral("Permitir preguntas por voz"), voice_);
    connect(voice_, &QAbstractButton::clicked, this,
        [this](bool on) { if (auto model = model_.lock()) model->defaults().setBool(Defaults::voiceEnabled, on); });
    dictation->addFooter(textLabel(
        QStringLiteral("La voz se transcribe localmente en este equipo antes de enviarse junto a tu selección."),
        TextStyle::caption, true));

    auto* permissions = new FormSection(QStringLiteral("Permisos"));
    microphone_ = new PermissionRow(QStringLiteral("Micrófono"),
        QStringLiteral("Captura tu voz mientras mantienes activo el botón de dictado."),
        [this] { if (auto model = model_.lock()) model->requestMicrophonePermission(); });
    microphone_->setObjectName(QStringLiteral("microphoneRow"));
    permissions->addRow(microphone_);
    speechRecognition_ = new PermissionRow(QStringLiteral("Reconocimiento de voz"),
        QStringLiteral("Convierte el audio en texto para el compositor."),
        [this] { if (auto model = model_.lock()) model->requestSpeechRecognitionPermission(); });
    speechRecognition_->setObjectName(QStringLiteral("speechRecognitionRow"));
    permissions->addRow(speechRecognition_);
    const auto model = model_.lock();
    if (!model || !model->speechModels()) return page(QStringLiteral("voice"), {dictation, permissions});
    return page(QStringLiteral("voice"), {dictation, permissions, new SpeechModelSection(model)});
}

QWidget* SettingsView::makeWebTab()
{
    const ThemeColors& colors = Theme::shared().colors();
    auto* precise = new FormSection(QStringLiteral("Selección precisa en páginas web"));
    auto* status = new QWidget;
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(12);
    extensionSymbol_ = new QLabel;
    extensionSymbol_->setObjectName(QStringLiteral("extensionSymbol"));
    extensionSymbol_->setFixedSize(28, 28);
    extensionSymbol_->setAlignment(Qt::AlignCenter);
    statusLayout->addWidget(extensionSymbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    extensionTitle_ = named(textLabel({}, TextStyle::headline), "extensionTitle");
    extensionDetail_ = named(textLabel({}, TextStyle::callout, true), "extensionDetail");
    texts->addWidget(extensionTitle_);
    texts->addWidget(extensionDetail_);
    statusLayout->addLayout(texts, 1);
    precise->addRow(status);

    auto* install = new FormSection(QStringLiteral("Instalar"));
    auto* setUp = styledButton(QStringLiteral("Configurar mi navegador"), "bordered", "setUpBrowserButton");
    auto* setUpRow = new QWidget;
    auto* setUpLayout = new QHBoxLayout(setUpRow);
    setUpLayout->setContentsMargins(0, 0, 0, 0);
    setUpLayout->addWidget(setUp);
    setUpLayout->addStretch(1);
    install->addRow(setUpRow);
    connect(setUp, &QPushButton::clicked, this, [this] { if (auto model = model_.lock()) model->prepareBrowserExtension(); });
    install->addFooter(textLabel(QStringLiteral("En la página que se abre: activa Modo desarrollador, pulsa Cargar "
                                                "descomprimida y elige la carpeta resaltada."),
        TextStyle::caption, true));

    auto* privacy = new FormSection(QStringLiteral("Privacidad"));
    privacy->addRow(titledRow("memorychip", colors.text, QStringLiteral("El recorte viaja en memoria"),
        QStringLiteral("La extensión captura únicamente el elemento elegido de la pestaña visible y lo entrega al programa "
                       "auxiliar local.")));
    (void)colors;
    return page(QStringLiteral("web"), {precise, install, privacy});
}

QWidget* SettingsView::makePrivacyTab()
{
    auto* access = new FormSection(QStringLiteral("Acceso al sistema"));
    accessibility_ = new PermissionRow(QStringLiteral("Accesibilidad"),
        QStringLiteral("Identifica controles, enlaces y bloques de texto bajo el cursor."),
        [this] { if (auto model = model_.lock()) model->requestAccessibility(); });
    accessibility_->setObjectName(QStringLiteral("accessibilityRow"));
    access->addRow(accessibility_);
    screenRecording_ = new PermissionRow(QStringLiteral("Grabación de pantalla"),
        QStringLiteral("Captura únicamente el rectángulo que eliges. La imagen no se guarda en la app."),
        [this] { if (auto model = model_.lock()) model->requestScreenRecording(); });
    screenRecording_->setObjectName(QStringLiteral("screenRecordingRow"));
    access->addRow(screenRecording_);
    QString accessNote = QStringLiteral("Las aplicaciones basadas en Chromium (Chrome, Electron) solo muestran sus elementos "
                                        "si se abren con --force-renderer-accessibility.");
    if (!DesktopTriggers::shared().captureNote.isEmpty()) accessNote = DesktopTriggers::shared().captureNote + QLatin1Char(' ') + accessNote;
    access->addFooter(named(textLabel(accessNote, TextStyle::caption, true), "accessNote"));

    auto* codex = new FormSection(QStringLiteral("Codex"));
    auto* row = new QWidget;
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(10);
    codexSymbol_ = new QLabel;
    codexSymbol_->setObjectName(QStringLiteral("codexSymbol"));
    codexSymbol_->setFixedSize(20, 20);
    codexSymbol_->setAlignment(Qt::AlignCenter);
    rowLayout->addWidget(codexSymbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    codexStatus_ = named(textLabel({}, TextStyle::subheadline), "codexStatus");
    QFont font = codexStatus_->font();
    font.setWeight(QFont::Medium);
    codexStatus_->setFont(font);
    texts->addWidget(codexStatus_);
    texts->addWidget(textLabel(QStringLiteral("Zorvane elimina variables de clave API y solo continúa si Codex confirma una "
                                              "sesión de ChatGPT."),
        TextStyle::caption, true));
    rowLayout->addLayout(texts, 1);
    auto* refresh = styledButton(QStringLiteral("Actualizar"), "bordered", "refreshCodexButton");
    rowLayout->addWidget(refresh, 0, Qt::AlignVCenter);
    connect(refresh, &QPushButton::clicked, this, [this] { if (auto model = model_.lock()) model->refreshCodexStatus(); });
    codex->addRow(row);
    return page(QStringLiteral("privacy"), {access, codex});
}

void SettingsView::restyle()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    theme.apply(window());
    const QString checked = theme.isDark() ? QStringLiteral("rgba(255,255,255,0.10)") : QStringLiteral("rgba(0,0,0,0.07)");
    window()->setStyleSheet(windowStyleSheet()
        + QStringLiteral("QWidget#settingsWindow { background: %1; }"
                         "QToolButton[settingsTab=\"true\"] { border: none; border-radius: 7px; padding: 4px 8px; color: %2; }"
                         "QToolButton[settingsTab=\"true\"]:hover { background: %3; }"
                         "QToolButton[settingsTab=\"true\"]:checked { background: %3; color: %4; }"
                         "QToolButton[settingsTab=\"true\"]:focus { border: 2px solid %4; padding: 2px 6px; outline: none; }"
                         "QFrame#settingsRule { background: %5; }"
                         "QLabel#launchAtLoginError { color: %6; }")
              .arg(c.surface.name(), c.secondaryText.name(), checked, c.accent.name(), c.divider.name(QColor::HexArgb),
                  c.orange.name()));
    selectTab(pages_->currentIndex()); // the tab symbols in this appearance's colours
    retintSymbols(this);
}

void SettingsView::sync()
{
    const ThemeColors& colors = Theme::shared().colors();
    const auto model = model_.lock();
    if (!model) return;
    UserDefaults& defaults = model->defaults();
    const auto& updates = *model->updates();
    const PermissionState& permissions = model->permissionState();
    activation_->setChecked(defaults.boolForKey(Defaults::activationEnabled));
    launchAtLogin_->setChecked(model->launchAtLoginEnabled());
    const auto stored = defaults.objectForKey(Defaults::motionThreshold);
    const double* storedThreshold = stored ? std::get_if<double>(&*stored) : nullptr;
    const double threshold = storedThreshold ? *storedThreshold : Defaults::defaultMotionThreshold;
    sensitivityCaption_->setText(QString::fromStdString(Defaults::sensitivityCaption(threshold)));
    if (!sensitivity_->isSliderDown()) {
        const QSignalBlocker quiet(sensitivity_);
        sensitivity_->setValue(static_cast<int>(std::lround(Defaults::sensitivity(threshold) * 20)));
    }

    installedVersion_->setText(QString::fromStdString(updates.installedVersion()));
    automaticChecks_->setChecked(updates.automaticallyChecksForUpdates());
    automaticDownloads_->setChecked(updates.automaticallyDownloadsUpdates());
    // The whole row: its label dims with the switch.
    automaticChecks_->parentWidget()->setEnabled(updates.isConfigured());
    automaticDownloads_->parentWidget()->setEnabled(updates.isConfigured() && updates.allowsAutomaticUpdates());
    checkNow_->setEnabled(updates.isConfigured() && updates.canCheckForUpdates());
    updateCaption_->setText(updates.updatedByPackageManager()
            ? QStringLiteral("Zorvane se actualiza con el gestor de paquetes del sistema.")
            : updates.isConfigured()
            ? QStringLiteral("Las actualizaciones se verifican con una firma EdDSA.")
            : QStringLiteral("Las actualizaciones se configurarán al crear el build de distribución."));

    const std::string storedMode = defaults.stringForKey(Defaults::aiResponseMode).value_or("fast");
    const auto mode = AIResponseModes::fromRawValue(storedMode);
    mode_->setCurrentTag(QString::fromStdString(storedMode));
    modeRow_->setVisible(mode.has_value());
    if (mode) {
        setSymbol(modeSymbol_, AIResponseModes::symbol(*mode).c_str(), colors.accent, 22);
        modeTitle_->setText(QString::fromStdString(AIResponseModes::label(*mode)));
        modeDescription_->setText(QString::fromStdString(AIResponseModes::description(*mode)));
    }

    voice_->setChecked(defaults.boolForKey(Defaults::voiceEnabled));
    microphone_->setGranted(permissions.microphone);
    speechRecognition_->setGranted(permissions.speechRecognition);

    const bool connected = model->browserExtensionConnected();
    setSymbol(extensionSymbol_, connected ? "checkmark.circle.fill" : "puzzlepiece.extension",
        connected ? colors.green : QColor(0x35, 0x84, 0xe4), 24);
    extensionTitle_->setText(connected ? QStringLiteral("Extensión conectada") : QStringLiteral("Falta activar la extensión"));
    extensionDetail_->setText(connected
            ? QStringLiteral("Las páginas web usan sus elementos reales para dibujar el highlight y recortar la selección.")
            : QStringLiteral("Zorvane puede preparar la extensión y abrir el lugar correcto del navegador por ti."));

    accessibility_->setGranted(permissions.accessibility);
    screenRecording_->setGranted(permissions.screenRecording);
    const bool signedIn = Text::localizedCaseInsensitiveContains(model->codexStatus(), "ChatGPT");
    setSymbol(codexSymbol_, signedIn ? "checkmark.seal.fill" : "exclamationmark.triangle.fill",
        signedIn ? colors.green : colors.orange, 18);
    codexStatus_->setText(QString::fromStdString(model->codexStatus()));
}

SettingsWindowController::SettingsWindowController(std::shared_ptr<zorvane::OnboardingWindowController> onboarding)
    : onboarding_(std::move(onboarding))
{
}

SettingsWindowController::~SettingsWindowController() { delete window_; }

void SettingsWindowController::show(AppModel& model, int tab)
{
    if (!window_) {
        Accessibility::install();
        Language::install();
        window_ = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
        window_->setObjectName(QStringLiteral("settingsWindow"));
        window_->setWindowTitle(QStringLiteral("Ajustes de Zorvane"));
        Accessibility::setRole(window_, QAccessible::Window);
        window_->setFixedSize(620, 460);
        window_->setAttribute(Qt::WA_StyledBackground);
        auto* layout = new QVBoxLayout(window_);
        layout->setContentsMargins(0, 0, 0, 0);
        std::weak_ptr<AppModel> weakModel = model.shared_from_this();
        auto openOnboarding = [onboarding = onboarding_, weakModel] {
            if (auto model = weakModel.lock(); model && onboarding) onboarding->show(*model);
        };
        view_ = new SettingsView(model.shared_from_this(), openOnboarding, window_);
        layout->addWidget(view_);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
    if (tab >= 0) view_->selectTab(tab);
    const bool opening = !window_->isVisible();
    window_->show();
    window_->raise();
    window_->activateWindow();
    // The keyboard starts on the window itself: the first Tab goes to the tabs.
    if (opening) view_->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace zorvane::ui
