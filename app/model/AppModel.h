#pragma once

#include "app/bridge/BrowserBridgeInstaller.h"
#include "app/bridge/BrowserBridgeService.h"
#include "app/codex/CodexService.h"
#include "app/core/BackgroundRunner.h"
#include "app/core/CapturedContext.h"
#include "app/core/ObservableObject.h"
#include "app/core/UserDefaults.h"
#include "app/core/UUID.h"
#include "app/gesture/MotionGestureMonitor.h"
#include "app/model/BrowserSelection.h"
#include "app/platform/AccessibilityTree.h"
#include "app/platform/ApplicationWindows.h"
#include "app/platform/AudioInput.h"
#include "app/platform/Bundle.h"
#include "app/platform/ChatPanelController.h"
#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/LoginItem.h"
#include "app/platform/MainQueue.h"
#include "app/platform/OverlayPanels.h"
#include "app/platform/Permissions.h"
#include "app/platform/Screens.h"
#include "app/platform/SpeechModels.h"
#include "app/platform/SpeechRecognizer.h"
#include "app/platform/Updater.h"
#include "app/platform/WindowImages.h"
#include "app/platform/WindowList.h"
#include "app/platform/Workspace.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "app/selection/ScreenCaptureService.h"
#include "app/selection/SelectionOverlayCoordinator.h"
#include "app/system/LaunchAtLoginService.h"
#include "app/system/UpdateService.h"
#include "app/voice/SpeechInputService.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// Everything the model needs from the platform. The program fills it with the real adapters;
// tests with fakes.
struct AppPlatform {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<Bundle> bundle;
    std::shared_ptr<Permissions> permissions;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<WindowList> windowList;
    std::shared_ptr<AccessibilityTree> accessibilityTree;
    std::shared_ptr<WindowImages> windowImages;
    std::shared_ptr<OverlayPanels> overlayPanels;
    std::shared_ptr<EventMonitors> eventMonitors;
    std::shared_ptr<AudioInput> audioInput;
    std::shared_ptr<SpeechRecognizers> speechRecognizers;
    std::shared_ptr<SpeechModels> speechModels = nullptr; // none where models cannot be installed
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<ApplicationWindows> applicationWindows;
    std::shared_ptr<LoginItem> loginItem;
    std::shared_ptr<Updater> updater;
    std::shared_ptr<ChatPanelController> chatPanel;
    std::shared_ptr<OnboardingWindowController> onboardingWindow;

    CodexServiceOptions codexOptions;
    std::filesystem::path bridgeSocketPath = BridgeProtocol::socketPath();
    // Where the browsers keep their profiles; none: the current user's.
    std::optional<std::filesystem::path> homeDirectory;
    std::optional<std::filesystem::path> configHome;
    ProcessID ownProcessID = 0;
    std::optional<std::string> speechLocale;
};

// The one coordinator: owns every service, publishes what the views draw, and drives the cycle
// from a trigger to an answer. Main thread only; results of background work come back through
// the main queue. Destroying the model ends its background work (a running question's child and
// files included) and waits for it, so nothing is posted afterwards.
//
// Ownership: the composition root holds the one strong reference. Windows and views hold the model
// weakly (weak_from_this), and nothing the model owns (its services, the ports it is given, the
// callbacks it hands out) holds it strongly; so dropping that reference always destroys the model
// and runs every teardown above, whatever windows were ever shown.
//
// A question belongs to its selection: a new selection, or closing the composer, ends the one
// running (its child ended, its files removed), and an answer for an older selection is dropped.
//
// Observers (addChangeObserver) are told after each change, with the new value in place.
class AppModel : public ObservableObject, public std::enable_shared_from_this<AppModel> {
public:
    static constexpr const char* defaultQuestion = "¿Qué debería saber sobre esto?";
    static constexpr const char* checkingCodexStatus = "Comprobando Codex…";
    // A capture starts once the overlay has left the screen and the chat panel is on it (so that
    // neither is in the picture), or after this long whatever the window system says.
    static constexpr double panelSettleLimit = 0.25;
    static constexpr double panelSettlePollInterval = 0.01;

    // Creates the services in their fixed order, then registers the settings' defaults.
    static std::shared_ptr<AppModel> create(AppPlatform platform);
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Published state.
    const std::optional<CapturedContext>& selectedContext() const { return selectedContext_; }
    const std::string& draft() const { return draft_; }
    const std::string& response() const { return response_; }
    bool isLoading() const { return isLoading_; }
    bool isPreparingSelectionImage() const { return isPreparingSelectionImage_; }
    bool isSelecting() const { return isSelecting_; }
    const std::optional<std::string>& lastError() const { return lastError_; }
    const PermissionState& permissionState() const { return permissionState_; }
    const std::string& codexStatus() const { return codexStatus_; }
    bool launchAtLoginEnabled() const { return launchAtLoginEnabled_; }
    bool browserExtensionConnected() const { return browserExtensionConnected_; }
    const BrowserSelection::Hosts& browserHosts() const { return browserHosts_; } // one per connected browser profile
    std::int64_t composerFocusRequest() const { return composerFocusRequest_; }
    bool hasStarted() const { return hasStarted_; }

    // The composer edits the question; the panel asks for focus each time it shows.
    void setDraft(const std::string& draft);
    void requestComposerFocus();

    // The cycle on the screen.
    void activateSelection();
    void acceptSelection(const CapturedContext& context);
    void send();
    void toggleVoice();
    void closeComposer();

    // Where a selection runs, and the browsers' reports, each from the host that sent it.
    void handleActivationGesture();
    void cancelSelection();
    void beginBrowserSelection(BrowserSelection::HostID host, const BrowserBridgeService::SelectionStarted& started);
    void acceptBrowserSelection(BrowserSelection::HostID host, const BrowserBridgeService::Selection& selection);
    void handleBrowserPickerShown(BrowserSelection::HostID host);
    void handleBrowserCancel(BrowserSelection::HostID host);
    void handleBrowserHostConnected(const BrowserBridgeService::Host& host);
    void handleBrowserHostDisconnected(BrowserSelection::HostID host);
    void handleBrowserListenerChange(const std::optional<std::string>& failure);

    // Start-up, permissions, system.
    void start();
    void refreshPermissions(double afterSeconds);
    void refreshCodexStatus();
    void requestAccessibility();
    void requestScreenRecording();
    void requestMicrophonePermission();
    void requestSpeechRecognitionPermission();
    void setLaunchAtLogin(bool enabled);
    void bringSettingsToFront();

    // Setting up the browser extension.
    void installBrowserBridge();
    void prepareBrowserExtension();
    void revealBrowserExtension();
    void openBrowserExtensions();

    // The services, for the views.
    const std::shared_ptr<SpeechInputService>& speech() const { return speech_; }
    const std::shared_ptr<SpeechModels>& speechModels() const { return platform_.speechModels; }
    const std::shared_ptr<UpdateService>& updates() const { return updates_; }
    const std::shared_ptr<CodexService>& codex() const { return codex_; }
    const std::shared_ptr<BrowserBridgeService>& browserBridge() const { return browserBridge_; }
    const BrowserBridgeInstaller& browserBridgeInstaller() const { return browserBridgeInstaller_; }
    const std::shared_ptr<MotionGestureMonitor>& motionMonitor() const { return motionMonitor_; }
    UserDefaults& defaults() const { return *platform_.defaults; }

private:
    explicit AppModel(AppPlatform platform);

    template <typename T> void publish(T& field, T value);
    void setLastError(std::optional<std::string> text) { publish(lastError_, std::move(text)); }
    std::shared_ptr<SelectionOverlayCoordinator> overlay();
    void hideChatPanel() { platform_.chatPanel->hide(); }
    void captureWhenPanelsSettle(const UUID& contextID, const Rect& rect, double waitingSince);
    void startCapture(const UUID& contextID, const Rect& rect, std::optional<std::int64_t> windowNumber);
    void onMain(std::function<void(AppModel&)> task, double afterSeconds = 0);
    void endQuestion();
    void readPermissions();
    void expireBrowserActivation(std::uint64_t attempt);
    // Back to idle from wherever the page's selection stood, for a reason that needs nothing sent.
    void endBrowserSelection();

    AppPlatform platform_;

    std::optional<CapturedContext> selectedContext_;
    std::string draft_;
    std::string response_;
    bool isLoading_ = false;
    bool isPreparingSelectionImage_ = false;
    bool isSelecting_ = false;
    std::optional<std::string> lastError_;
    PermissionState permissionState_;
    std::string codexStatus_ = checkingCodexStatus;
    bool launchAtLoginEnabled_ = false;
    bool browserExtensionConnected_ = false;
    std::int64_t composerFocusRequest_ = 0;

    bool hasStarted_ = false;
    // The running question's own cancellation, and the number of the latest question asked: an
    // answer is applied only while its number is the latest.
    std::shared_ptr<Cancellation> question_;
    std::uint64_t questionNumber_ = 0;
    std::uint64_t permissionReadNumber_ = 0;
    BrowserSelection::State browserSelection_;
    std::uint64_t browserActivations_ = 0;
    BrowserSelection::Hosts browserHosts_;
    std::optional<std::string> bridgeFailure_; // the listener's, while it is shown as lastError

    std::shared_ptr<SpeechInputService> speech_;
    std::shared_ptr<UpdateService> updates_;
    std::shared_ptr<AccessibilitySelectionService> accessibility_;
    std::shared_ptr<ScreenCaptureService> screenCapture_;
    std::shared_ptr<CodexService> codex_;
    std::shared_ptr<MotionGestureMonitor> motionMonitor_;
    std::shared_ptr<BrowserBridgeService> browserBridge_;
    BrowserBridgeInstaller browserBridgeInstaller_;
    std::unique_ptr<LaunchAtLoginService> launchAtLogin_;
    std::shared_ptr<SelectionOverlayCoordinator> overlay_;
    // Captures and Codex runs; last, so that it is the first to go.
    std::unique_ptr<BackgroundRunner> background_ = std::make_unique<BackgroundRunner>();
};

} // namespace zorvane
