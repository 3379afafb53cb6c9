#include "app/model/AppModel.h"

#include "app/core/Defaults.h"
#include "app/core/LocalizedError.h"
#include "app/core/Text.h"
#include "app/selection/ScreenCoordinates.h"
#include "app/system/SystemPrivacySettings.h"

namespace zorvane {
namespace {

constexpr const char* accessibilityMissing =
    "Accesibilidad aún no está disponible. Ábrela desde Ajustes > Privacidad y vuelve a intentarlo.";
constexpr const char* screenRecordingMissing =
    "Activa Grabación de pantalla desde Ajustes: Zorvane envía siempre una imagen de la selección.";
constexpr const char* dictationDisabled = "Activa Dictado en los ajustes de Zorvane.";
constexpr const char* loginItemFailed = "No se pudo cambiar el inicio automático: ";
constexpr const char* extensionSetupFailed = "No se pudo preparar la extensión web: ";
constexpr const char* noSupportedBrowser = "Instala Chrome, Chromium, Edge o Brave para usar la selección web precisa.";

BrowserBridgeInstaller makeInstaller(const AppPlatform& platform)
{
    if (!platform.homeDirectory) return BrowserBridgeInstaller::forCurrentUser(*platform.bundle);
    return BrowserBridgeInstaller(*platform.bundle, *platform.homeDirectory, platform.configHome);
}

} // namespace

std::shared_ptr<AppModel> AppModel::create(AppPlatform platform)
{
    return std::shared_ptr<AppModel>(new AppModel(std::move(platform)));
}

// The members are declared, and so created, in the services' fixed order.
AppModel::AppModel(AppPlatform platform)
    : platform_(std::move(platform))
    , speech_(SpeechInputService::create(platform_.audioInput, platform_.speechRecognizers, platform_.permissions,
                                         platform_.clock, platform_.mainQueue, platform_.speechLocale))
    , updates_(std::make_shared<UpdateService>(*platform_.bundle, platform_.updater))
    , accessibility_(std::make_shared<AccessibilitySelectionService>(platform_.permissions, platform_.windowList,
                                                                     platform_.accessibilityTree, platform_.screens,
                                                                     platform_.clock, platform_.ownProcessID))
    , screenCapture_(std::make_shared<ScreenCaptureService>(platform_.permissions, platform_.windowImages))
    , codex_(std::make_shared<CodexService>(platform_.codexOptions))
    , motionMonitor_(MotionGestureMonitor::create(platform_.eventMonitors, platform_.defaults, platform_.mainQueue))
    , browserBridge_(BrowserBridgeService::create(*platform_.mainQueue, platform_.bridgeSocketPath))
    , browserBridgeInstaller_(makeInstaller(platform_))
    , launchAtLogin_(std::make_unique<LaunchAtLoginService>(platform_.loginItem))
{
    browserBridgeInstaller_.hostName = "com.quenvar.zorvane.json";
    try {
        Defaults::registerDefaults(*platform_.defaults);
    } catch (const std::exception&) {
        // Unwritable settings: the registered values and the migration still hold for this run.
    }
}

AppModel::~AppModel()
{
    // The views first: they were given this model and observe it and its services.
    platform_.chatPanel.reset();
    platform_.onboardingWindow.reset();
    platform_.applicationWindows.reset();
    if (overlay_) overlay_->cancel();
    overlay_.reset();
    // Then the work in flight: a question's child is ended and its files removed before this returns.
    background_->cancelAndJoin();
    motionMonitor_->stop();
    // The services go in the reverse of their creation order, as members.
}

template <typename T> void AppModel::publish(T& field, T value)
{
    // Observers see the new value, and only a real change.
    if (field == value) return;
    field = std::move(value);
    objectDidChange();
}

void AppModel::onMain(std::function<void(AppModel&)> task, double afterSeconds)
{
    std::weak_ptr<AppModel> weak = weak_from_this();
    auto run = [weak, task = std::move(task)] {
        if (auto self = weak.lock()) task(*self);
    };
    if (afterSeconds > 0) {
        platform_.mainQueue->postAfter(afterSeconds, std::move(run));
    } else {
        platform_.mainQueue->post(std::move(run));
    }
}

void AppModel::setDraft(const std::string& draft) { publish(draft_, draft); }

void AppModel::requestComposerFocus() { publish(composerFocusRequest_, composerFocusRequest_ + 1); }

std::shared_ptr<SelectionOverlayCoordinator> AppModel::overlay()
{
    if (!overlay_) {
        overlay_ = SelectionOverlayCoordinator::create(accessibility_, platform_.screens, platform_.overlayPanels,
                                                       platform_.eventMonitors, platform_.mainQueue, platform_.clock);
    }
    return overlay_;
}

// MARK: the cycle on the screen

void AppModel::activateSelection()
{
    if (isSelecting_) return;
    if (!platform_.permissions->isAccessibilityTrusted()) {
        setLastError(std::string(accessibilityMissing));
        refreshPermissions(0);
        return;
    }
    endBrowserSelection();
    publish(isSelecting_, true);
    setLastError(std::nullopt);
    hideChatPanel();

    std::weak_ptr<AppModel> weak = weak_from_this();
    overlay()->begin(
        [weak](const CapturedContext& context) {
            if (auto self = weak.lock()) self->acceptSelection(context);
        },
        [weak] {
            if (auto self = weak.lock()) self->publish(self->isSelecting_, false);
        });
}

void AppModel::endQuestion()
{
    ++questionNumber_;
    if (question_) question_->cancel();
    question_.reset();
    publish(isLoading_, false);
}

void AppModel::acceptSelection(const CapturedContext& context)
{
    endQuestion();
    browserSelection_ = BrowserSelection::Idle {};
    publish(isSelecting_, false);
    publish(selectedContext_, std::optional<CapturedContext>(context));
    publish(response_, std::string());
    publish(draft_, std::string());
    platform_.chatPanel->show(*this, context.screenRect);

    if (context.imageData) {
        publish(isPreparingSelectionImage_, false);
    } else if (platform_.permissions->isScreenRecordingGranted()) {
        publish(isPreparingSelectionImage_, true);
        const Rect rect = ScreenCoordinates::clampedQuartzRect(*platform_.screens, context.screenRect).value_or(context.screenRect);
        captureWhenPanelsSettle(context.id, rect, platform_.clock->uptime());
    } else {
        publish(selectedContext_, std::optional<CapturedContext>());
        publish(isPreparingSelectionImage_, false);
        setLastError(std::string(screenRecordingMissing));
    }
    refreshPermissions(0);
}

void AppModel::captureWhenPanelsSettle(const UUID& contextID, const Rect& rect, double waitingSince)
{
    // Only for the selection it was asked for: a newer one has its own wait.
    if (!selectedContext_ || selectedContext_->id != contextID || !isPreparingSelectionImage_) return;
    // Ordering windows in and out is asynchronous: the window ports say when it has happened.
    const bool settled = !platform_.overlayPanels->anyPanelOnScreen() && platform_.chatPanel->isOnScreen();
    if (!settled && platform_.clock->uptime() - waitingSince < panelSettleLimit) {
        onMain([contextID, rect, waitingSince](AppModel& self) { self.captureWhenPanelsSettle(contextID, rect, waitingSince); },
               panelSettlePollInterval);
        return;
    }
    std::optional<std::int64_t> windowNumber;
    if (auto number = platform_.chatPanel->windowNumber()) windowNumber = static_cast<std::int64_t>(*number);
    startCapture(contextID, rect, windowNumber);
}

void AppModel::startCapture(const UUID& contextID, const Rect& rect, std::optional<std::int64_t> windowNumber)
{
    std::weak_ptr<AppModel> weak = weak_from_this();
    auto capture = screenCapture_;
    auto mainQueue = platform_.mainQueue;
    background_->run([weak, capture, mainQueue, contextID, rect, windowNumber](const auto& cancellation) {
        if (cancellation->isCancelled()) return;
        std::optional<std::vector<std::uint8_t>> png;
        std::string failure;
        try {
            png = capture->capture(rect, windowNumber);
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        mainQueue->post([weak, contextID, png = std::move(png), failure = std::move(failure)]() mutable {
            auto self = weak.lock();
            // Applied only to the selection it was made for.
            if (!self || !self->selectedContext_ || self->selectedContext_->id != contextID) return;
            if (png) {
                CapturedContext updated = *self->selectedContext_;
                updated.imageData = std::move(*png);
                self->publish(self->selectedContext_, std::optional<CapturedContext>(std::move(updated)));
                self->publish(self->isPreparingSelectionImage_, false);
            } else {
                self->publish(self->selectedContext_, std::optional<CapturedContext>());
                self->publish(self->isPreparingSelectionImage_, false);
                self->setLastError(failure);
            }
        });
    });
}

void AppModel::send()
{
    std::string question = Text::trimmed(draft_);
    if (question.empty() && !selectedContext_) return;
    if (isLoading_ || isPreparingSelectionImage_) return;
    if (question.empty()) question = defaultQuestion;

    publish(draft_, std::string());
    publish(response_, std::string());
    setLastError(std::nullopt);
    publish(isLoading_, true);
    speech_->stop();
    platform_.chatPanel->expandForResponse();

    const std::optional<CapturedContext> context = selectedContext_;
    const AIResponseMode mode = Defaults::responseMode(*platform_.defaults);
    std::weak_ptr<AppModel> weak = weak_from_this();
    auto codex = codex_;
    auto mainQueue = platform_.mainQueue;
    const std::uint64_t number = ++questionNumber_;
    question_ = background_->run([weak, codex, mainQueue, question, context, mode, number](const auto& cancellation) {
        std::optional<std::string> answer;
        std::string failure;
        try {
            answer = codex->send(question, context, mode, cancellation);
        } catch (const OperationCancelled&) {
            return; // its selection, or the model, is gone
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        mainQueue->post([weak, number, answer = std::move(answer), failure = std::move(failure)] {
            auto self = weak.lock();
            // An answer only for the question still running: one ended with its selection is dropped.
            if (!self || self->questionNumber_ != number) return;
            self->question_.reset();
            if (answer) {
                self->publish(self->response_, *answer);
            } else {
                self->setLastError(failure);
            }
            self->publish(self->isLoading_, false);
        });
    });
}

void AppModel::toggleVoice()
{
    if (!platform_.defaults->boolForKey(Defaults::voiceEnabled)) {
        // Shown under the dictation button like every other dictation failure, not as an answer's error.
        speech_->refuse(dictationDisabled, SpeechInputService::Remedy::enableDictation);
        return;
    }
    if (speech_->isListening()) {
        speech_->stop();
        return;
    }
    std::weak_ptr<AppModel> weak = weak_from_this();
    speech_->start([weak](const std::string& transcript) {
        if (auto self = weak.lock()) self->setDraft(transcript);
    });
}

void AppModel::closeComposer()
{
    endQuestion();
    speech_->stop();
    hideChatPanel();
    publish(selectedContext_, std::optional<CapturedContext>());
    if (std::holds_alternative<BrowserSelection::AwaitingCrop>(browserSelection_)) browserSelection_ = BrowserSelection::Idle {};
    publish(isPreparingSelectionImage_, false);
}

// MARK: routing and browser selections
//
// The page's side of a selection is one state (BrowserSelection): each function below is one
// transition of it, and the only place that moves it.

void AppModel::endBrowserSelection()
{
    const bool asked = BrowserSelection::isSelectingInPage(browserSelection_);
    const bool awaitingCrop = std::holds_alternative<BrowserSelection::AwaitingCrop>(browserSelection_);
    browserSelection_ = BrowserSelection::Idle {};
    if (asked) publish(isSelecting_, false);
    if (awaitingCrop) publish(isPreparingSelectionImage_, false);
}

void AppModel::handleActivationGesture()
{
    if (isSelecting_) return;
    const auto host = BrowserSelection::hostInFront(browserHosts_, *platform_.workspace);
    if (host && browserBridge_->requestActivation(*host)) {
        if (std::holds_alternative<BrowserSelection::AwaitingCrop>(browserSelection_)) publish(isPreparingSelectionImage_, false);
        const std::uint64_t attempt = ++browserActivations_;
        browserSelection_ = BrowserSelection::Requested {*host, attempt};
        publish(isSelecting_, true);
        setLastError(std::nullopt);
        hideChatPanel();
        onMain([attempt](AppModel& self) { self.expireBrowserActivation(attempt); }, BrowserSelection::activationDeadline);
        return;
    }
    activateSelection();
}

void AppModel::expireBrowserActivation(std::uint64_t attempt)
{
    const auto* requested = std::get_if<BrowserSelection::Requested>(&browserSelection_);
    if (!requested || requested->attempt != attempt) return;
    // Nothing showed in the page: the user gets the screen's selection instead, and the page no late picker.
    browserBridge_->requestCancellation(requested->host);
    endBrowserSelection();
    activateSelection();
}

void AppModel::cancelSelection()
{
    if (BrowserSelection::isSelectingInPage(browserSelection_)) {
        browserBridge_->requestCancellation(*BrowserSelection::hostOf(browserSelection_));
    } else if (overlay_) {
        overlay_->cancel();
    }
    endBrowserSelection();
    publish(isPreparingSelectionImage_, false);
    publish(isSelecting_, false);
}

void AppModel::handleBrowserPickerShown(BrowserSelection::HostID host)
{
    const auto* requested = std::get_if<BrowserSelection::Requested>(&browserSelection_);
    if (requested && requested->host == host) browserSelection_ = BrowserSelection::Picking {host};
}

void AppModel::beginBrowserSelection(BrowserSelection::HostID host, const BrowserBridgeService::SelectionStarted& started)
{
    endQuestion();
    // Picked in one page: a picker another page was asked for goes, and so does the screen's overlay.
    const auto asked = BrowserSelection::hostOf(browserSelection_);
    if (BrowserSelection::isSelectingInPage(browserSelection_) && asked != host) browserBridge_->requestCancellation(*asked);
    else if (!asked && isSelecting_ && overlay_) overlay_->cancel();
    browserSelection_ = BrowserSelection::AwaitingCrop {host, started.id};
    publish(isSelecting_, false);
    publish(isPreparingSelectionImage_, true);

    const Point p = platform_.eventMonitors->currentPointerLocation();
    const Rect square(p.x - 2, p.y - 2, 4, 4);
    const Rect rect = ScreenCoordinates::clampedQuartzRect(*platform_.screens, square, p).value_or(Rect(p.x, p.y, 4, 4));

    CapturedContext placeholder;
    placeholder.id = started.id;
    placeholder.kind = CapturedContext::Kind::image;
    placeholder.appName = "Navegador";
    placeholder.role = "Elemento web";
    placeholder.title = started.title;
    placeholder.screenRect = rect;
    publish(selectedContext_, std::optional<CapturedContext>(std::move(placeholder)));
    publish(response_, std::string());
    publish(draft_, std::string());
    setLastError(std::nullopt);
    platform_.chatPanel->show(*this, rect);
}

void AppModel::acceptBrowserSelection(BrowserSelection::HostID host, const BrowserBridgeService::Selection& selection)
{
    // Only the picture awaited, from the page it was picked in; a late one belongs to nothing shown.
    const auto* awaiting = std::get_if<BrowserSelection::AwaitingCrop>(&browserSelection_);
    if (!awaiting || awaiting->host != host || awaiting->id != selection.id) return;
    if (!selectedContext_ || selectedContext_->id != selection.id) return;
    CapturedContext updated = *selectedContext_;
    updated.imageData = selection.imageData;
    browserSelection_ = BrowserSelection::Idle {};
    publish(selectedContext_, std::optional<CapturedContext>(std::move(updated)));
    publish(isPreparingSelectionImage_, false);
}

void AppModel::handleBrowserCancel(BrowserSelection::HostID host)
{
    // A placeholder already shown stays, without its picture. Another page's cancel changes nothing.
    if (BrowserSelection::hostOf(browserSelection_) == host) endBrowserSelection();
}

void AppModel::handleBrowserHostConnected(const BrowserBridgeService::Host& host)
{
    browserHosts_[host.id] = host;
    publish(browserExtensionConnected_, true);
}

void AppModel::handleBrowserHostDisconnected(BrowserSelection::HostID host)
{
    browserHosts_.erase(host);
    publish(browserExtensionConnected_, !browserHosts_.empty());
    if (BrowserSelection::hostOf(browserSelection_) != host) return;
    // Nothing shown yet: back to idle, and the next shake works. A panel waiting for its picture says why it will not come.
    const bool shown = std::holds_alternative<BrowserSelection::AwaitingCrop>(browserSelection_);
    endBrowserSelection();
    if (shown) setLastError(std::string(BrowserSelection::connectionLost));
}

void AppModel::handleBrowserListenerChange(const std::optional<std::string>& failure)
{
    if (failure) {
        // Said when it first fails, and again after each retry if nothing else is being said.
        if (failure != bridgeFailure_ || !lastError_) setLastError(failure);
        bridgeFailure_ = failure;
    } else if (bridgeFailure_) {
        if (lastError_ == bridgeFailure_) setLastError(std::nullopt);
        bridgeFailure_.reset();
    }
}

// MARK: start-up, permissions, system

void AppModel::start()
{
    if (hasStarted_) return;
    hasStarted_ = true;

    installBrowserBridge();
    platform_.chatPanel->prepare(*this);

    std::weak_ptr<AppModel> weak = weak_from_this();
    using HostID = BrowserSelection::HostID;
    browserBridge_->onSelectionStarted = [weak](HostID host, const BrowserBridgeService::SelectionStarted& started) {
        if (auto self = weak.lock()) self->beginBrowserSelection(host, started);
    };
    browserBridge_->onSelection = [weak](HostID host, const BrowserBridgeService::Selection& selection) {
        if (auto self = weak.lock()) self->acceptBrowserSelection(host, selection);
    };
    browserBridge_->onPickerShown = [weak](HostID host) {
        if (auto self = weak.lock()) self->handleBrowserPickerShown(host);
    };
    browserBridge_->onCancel = [weak](HostID host) {
        if (auto self = weak.lock()) self->handleBrowserCancel(host);
    };
    browserBridge_->onHostConnected = [weak](const BrowserBridgeService::Host& host) {
        if (auto self = weak.lock()) self->handleBrowserHostConnected(host);
    };
    browserBridge_->onHostDisconnected = [weak](HostID host) {
        if (auto self = weak.lock()) self->handleBrowserHostDisconnected(host);
    };
    browserBridge_->onListenerChange = [weak](const std::optional<std::string>& failure) {
        if (auto self = weak.lock()) self->handleBrowserListenerChange(failure);
    };
    browserBridge_->start();

    motionMonitor_->onTrigger = [weak] {
        if (auto self = weak.lock()) self->handleActivationGesture();
    };
    motionMonitor_->start();

    refreshPermissions(0);
    refreshCodexStatus();
    publish(launchAtLoginEnabled_, launchAtLogin_->isEnabled());

    if (platform_.defaults->integerForKey(Defaults::onboardingVersion) < Defaults::currentOnboardingVersion) {
        onMain([](AppModel& self) { self.platform_.onboardingWindow->show(self); });
    }
}

void AppModel::refreshPermissions(double afterSeconds)
{
    onMain([](AppModel& self) { self.readPermissions(); }, afterSeconds);
}

void AppModel::readPermissions()
{
    // Off the main thread: the answers come from the sound server, the accessibility bus and the
    // speech libraries, any of which may be slow to load or to answer.
    const std::uint64_t number = ++permissionReadNumber_;
    std::weak_ptr<AppModel> weak = weak_from_this();
    auto permissions = platform_.permissions;
    auto mainQueue = platform_.mainQueue;
    background_->run([weak, permissions, mainQueue, number](const auto& cancellation) {
        PermissionState state;
        state.accessibility = permissions->isAccessibilityTrusted();
        state.screenRecording = permissions->isScreenRecordingGranted();
        state.microphone = permissions->isMicrophoneAuthorized();
        state.speechRecognition = permissions->isSpeechRecognitionAuthorized();
        if (cancellation->isCancelled()) return;
        mainQueue->post([weak, number, state] {
            auto self = weak.lock();
            // The latest reading wins, whatever order the readings end in.
            if (self && self->permissionReadNumber_ == number) self->publish(self->permissionState_, state);
        });
    });
}

void AppModel::refreshCodexStatus()
{
    std::weak_ptr<AppModel> weak = weak_from_this();
    auto codex = codex_;
    auto mainQueue = platform_.mainQueue;
    background_->run([weak, codex, mainQueue](const auto& cancellation) {
        std::string status = codex->authenticationStatus(cancellation);
        if (cancellation->isCancelled()) return;
        mainQueue->post([weak, status = std::move(status)] {
            if (auto self = weak.lock()) self->publish(self->codexStatus_, status);
        });
    });
}

void AppModel::requestAccessibility()
{
    platform_.permissions->requestAccessibility();
    refreshPermissions(0.5);
}

void AppModel::requestScreenRecording()
{
    const bool granted = platform_.permissions->requestScreenRecording();
    refreshPermissions(0.5);
    if (!granted) SystemPrivacySettings::open(*platform_.workspace, SystemPrivacySettings::Pane::screenCapture);
}

void AppModel::requestMicrophonePermission()
{
    switch (platform_.permissions->microphoneStatus()) {
    case Permissions::Status::notDetermined: {
        std::weak_ptr<AppModel> weak = weak_from_this();
        speech_->requestMicrophonePermission([weak] {
            if (auto self = weak.lock()) self->refreshPermissions(0);
        });
        break;
    }
    case Permissions::Status::authorized: refreshPermissions(0); break;
    case Permissions::Status::denied:
    case Permissions::Status::restricted:
        SystemPrivacySettings::open(*platform_.workspace, SystemPrivacySettings::Pane::microphone);
        break;
    }
}

void AppModel::requestSpeechRecognitionPermission()
{
    switch (platform_.permissions->speechRecognitionStatus()) {
    case Permissions::Status::notDetermined: {
        std::weak_ptr<AppModel> weak = weak_from_this();
        speech_->requestSpeechRecognitionPermission([weak] {
            if (auto self = weak.lock()) self->refreshPermissions(0);
        });
        break;
    }
    case Permissions::Status::authorized: refreshPermissions(0); break;
    case Permissions::Status::denied:
    case Permissions::Status::restricted:
        SystemPrivacySettings::open(*platform_.workspace, SystemPrivacySettings::Pane::speechRecognition);
        break;
    }
}

void AppModel::setLaunchAtLogin(bool enabled)
{
    std::optional<std::string> failure;
    try {
        launchAtLogin_->setEnabled(enabled);
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    // The toggle shows the real state, whatever happened.
    publish(launchAtLoginEnabled_, launchAtLogin_->isEnabled());
    if (failure) setLastError(loginItemFailed + *failure);
}

void AppModel::bringSettingsToFront()
{
    platform_.applicationWindows->activateIgnoringOtherApps();
    // The settings window may appear a moment after it was asked for: try again a little later.
    auto windows = platform_.applicationWindows;
    for (double delay : {0.0, 0.12, 0.35}) {
        platform_.mainQueue->postAfter(delay, [windows] {
            windows->activateIgnoringOtherApps();
            for (const auto& window : windows->windows()) {
                if (!window.isVisible) continue;
                if (Text::localizedCaseInsensitiveContains(window.title, "ajustes")
                    || Text::localizedCaseInsensitiveContains(window.title, "settings")
                    || Text::localizedCaseInsensitiveContains(window.identifier, "settings")) {
                    windows->orderFrontRegardlessAndMakeKey(window.handle);
                    return;
                }
            }
        });
    }
}

// MARK: the browser extension's setup

void AppModel::installBrowserBridge()
{
    try {
        browserBridgeInstaller_.install();
    } catch (const std::exception& error) {
        setLastError(extensionSetupFailed + describe(error));
    }
}

void AppModel::prepareBrowserExtension()
{
    installBrowserBridge();
    revealBrowserExtension();
    onMain([](AppModel& self) { self.openBrowserExtensions(); }, 0.4);
}

void AppModel::revealBrowserExtension()
{
    const auto resources = platform_.bundle->resourcesPath();
    std::error_code ec;
    if (resources.empty() || !std::filesystem::is_directory(resources, ec)) return;
    platform_.workspace->revealFile(resources / "BrowserExtension");
}

void AppModel::openBrowserExtensions()
{
    // Chromium is the browser Linux distributions ship; it loads the same extension.
    static const std::pair<const char*, const char*> pages[] = {
        {"company.thebrowser.Browser", "arc://extensions"},
        {"com.google.Chrome", "chrome://extensions"},
        {"com.microsoft.edgemac", "edge://extensions"},
        {"com.brave.Browser", "brave://extensions"},
        {"org.chromium.Chromium", "chrome://extensions"},
    };
    for (const auto& [identifier, page] : pages) {
        if (platform_.workspace->isApplicationInstalled(identifier)) {
            platform_.workspace->openURLWithApplication(page, identifier);
            return;
        }
    }
    setLastError(std::string(noSupportedBrowser));
}

} // namespace zorvane
