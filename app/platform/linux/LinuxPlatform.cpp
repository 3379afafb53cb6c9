#include "app/platform/linux/LinuxPlatform.h"

#include "app/core/SystemClock.h"
#include "app/platform/linux/LinuxBundle.h"
#include "app/platform/linux/LinuxPermissions.h"
#include "app/platform/linux/PlistPreferencesStore.h"
#include "app/platform/linux/x11/X11ScreenRecording.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/ui/ChatPanelController.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWidget>

#include <stdexcept>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace zorvane {
namespace {

// ---------------------------------------------------------------------------------------------
// Interim adapters. Each stands in for an adapter another branch is writing and does only what
// can be done honestly without it (reports "nothing" rather than inventing an answer). The
// coordinator deletes this section as the real adapters are wired below.
// ---------------------------------------------------------------------------------------------

// No global input: the shake never triggers; the pointer is Qt's. → X11EventMonitors.
class InterimEventMonitors final : public EventMonitors {
public:
    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)>) override { return next_++; }
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)>) override { return next_++; }
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)>) override { return next_++; }
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)>) override { return next_++; }
    void removeMonitor(MonitorToken) override {}
    Point currentPointerLocation() override
    {
        QScreen* primary = QGuiApplication::primaryScreen();
        const QPoint p = QCursor::pos() - (primary ? primary->geometry().topLeft() : QPoint());
        return Point {static_cast<double>(p.x()), static_cast<double>(p.y())};
    }

private:
    MonitorToken next_ = 1;
};

// No accessibility tree: lookups give none. → AtspiAccessibilityTree.
class InterimAccessibilityTree final : public AccessibilityTree {
public:
    std::optional<AccessibilityElement> elementAtPoint(ProcessID, Point) override { return std::nullopt; }
    std::optional<AccessibilityValue> attribute(const AccessibilityElement&, std::string_view) override { return std::nullopt; }
    std::optional<std::string> applicationName(const AccessibilityElement&) override { return std::nullopt; }
    std::optional<Rect> frame(const AccessibilityElement&) override { return std::nullopt; }
};

// No overlay can be shown: a selection waits until it is cancelled. → X11OverlayPanels.
class InterimOverlayPanels final : public OverlayPanels {
    class Panel final : public OverlayPanel {
    public:
        void setHighlight(const std::optional<Rect>&, const std::string&) override {}
        void orderOut() override {}
    };

public:
    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription&, OverlayPanelHandlers) override
    {
        return std::make_unique<Panel>();
    }
    bool anyPanelOnScreen() override { return false; }
};

// No sound input, no recogniser. → PulseAudioInput, LinuxSpeechRecognizers.
class InterimAudioInput final : public AudioInput {
public:
    AudioFormat inputFormat() override { return {}; }
    void installTap(std::uint32_t, const AudioFormat&, TapBlock) override
    {
        throw std::system_error(std::make_error_code(std::errc::no_such_device), "No hay micrófono disponible");
    }
    void removeTap() override {}
    void prepare() override {}
    void start() override { throw std::system_error(std::make_error_code(std::errc::no_such_device), "No hay micrófono disponible"); }
    bool isRunning() override { return false; }
    void stop() override {}
    void requestAccess(std::function<void()> completion) override { completion(); }
};
class InterimSpeechRecognizers final : public SpeechRecognizers {
public:
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string&) override { return nullptr; }
    void requestAuthorization(std::function<void()> completion) override { completion(); }
};

// URLs through the desktop; nothing else is known. → X11Workspace.
class InterimWorkspace final : public Workspace {
public:
    std::optional<std::string> frontmostApplicationIdentifier() override { return std::nullopt; }
    bool openURL(const std::string& url) override { return QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }
    bool openURLWithApplication(const std::string&, const std::string&) override { return false; }
    bool revealFile(const std::filesystem::path& path) override
    {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.parent_path().string())));
    }
    bool isApplicationInstalled(const std::string&) override { return false; }
};

// Our own top-level windows, raised by Qt. → QtApplicationWindows.
class InterimApplicationWindows final : public ApplicationWindows {
public:
    void activateIgnoringOtherApps() override {}
    std::vector<Window> windows() override
    {
        std::vector<Window> result;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            result.push_back({reinterpret_cast<std::uintptr_t>(widget), widget->windowTitle().toStdString(),
                              widget->objectName().toStdString(), widget->isVisible()});
        }
        return result;
    }
    void orderFrontRegardlessAndMakeKey(std::uint64_t handle) override
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (reinterpret_cast<std::uintptr_t>(widget) != handle) continue;
            widget->raise();
            widget->activateWindow();
        }
    }
};

// No autostart, no updates, no onboarding window yet. → XdgLoginItem, LinuxUpdater, the
// onboarding window.
class InterimLoginItem final : public LoginItem {
public:
    Status status() override { return Status::notFound; }
    void registerItem() override
    {
        throw std::system_error(std::make_error_code(std::errc::function_not_supported), "El inicio automático aún no está disponible");
    }
    void unregisterItem() override {}
};
class InterimUpdater final : public Updater {
public:
    void start() override {}
    bool automaticallyChecksForUpdates() override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    bool automaticallyDownloadsUpdates() override { return false; }
    void setAutomaticallyDownloadsUpdates(bool) override {}
    bool canCheckForUpdates() override { return false; }
    bool allowsAutomaticUpdates() override { return false; }
    void checkForUpdates() override {}
};
class InterimOnboardingWindow final : public OnboardingWindowController {
public:
    void show(AppModel&) override {}
};

template <typename T>
std::shared_ptr<T> requireDisplay(std::unique_ptr<T> adapter)
{
    if (!adapter) throw std::runtime_error("No se puede abrir la pantalla X11 (DISPLAY).");
    return std::shared_ptr<T>(std::move(adapter));
}

} // namespace

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
{
    AppPlatform& p = platform_;
    p.mainQueue = options.mainQueue;
    p.clock = std::make_shared<SystemClock>();
    p.bundle = std::make_shared<linux_platform::LinuxBundle>(linux_platform::LinuxBundle::forRunningExecutable());
    p.defaults = std::make_shared<UserDefaults>(std::make_shared<linux_platform::PlistPreferencesStore>(linux_platform::PlistPreferencesStore::defaultPath()));
    p.ownProcessID = static_cast<ProcessID>(::getpid());
    p.speechLocale = "es_ES";

    // Screens, windows, capture: each opens its own connection to the display.
    p.screens = requireDisplay(X11Screens::create());
    p.windowList = requireDisplay(X11WindowList::create());
    p.windowImages = requireDisplay(X11WindowImages::create());

    // Input and overlay (x11-input):
    //   p.eventMonitors = X11EventMonitors::create(p.mainQueue, p.clock, rootToQuartz);
    //   p.overlayPanels = std::make_shared<X11OverlayPanels>(p.eventMonitors, p.windowImages);
    //   p.workspace = std::make_shared<X11Workspace>();
    p.eventMonitors = std::make_shared<InterimEventMonitors>();
    p.overlayPanels = std::make_shared<InterimOverlayPanels>();
    p.workspace = std::make_shared<InterimWorkspace>();

    // Accessibility (atspi):
    //   p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(rootCoordinates);
    //   accessibility status: AtspiAccessibilityStatus status; (see the permissions below)
    p.accessibilityTree = std::make_shared<InterimAccessibilityTree>();

    // Sound and speech (voice-linux):
    //   p.audioInput = std::make_shared<PulseAudioInput>();
    //   p.speechRecognizers = std::make_shared<LinuxSpeechRecognizers>(places, p.workspace, "es_ES");
    p.audioInput = std::make_shared<InterimAudioInput>();
    p.speechRecognizers = std::make_shared<InterimSpeechRecognizers>();

    // The four permission halves:
    //   auto status = std::make_shared<AtspiAccessibilityStatus>();
    //   halves.isAccessibilityEnabled = [status] { return status->isEnabled(); };
    //   halves.enableAccessibility = [status] { return status->enable(); };
    //   halves.microphoneStatus = [audio = p.audioInput] { return linux_platform::MicrophoneAccess::status(*audio); };
    //   halves.speechRecognitionStatus = [speech] { return speech->authorizationStatus(); };
    PermissionHalves halves;
    halves.isScreenCaptureGranted = [] { return X11ScreenRecording::isGranted(); };
    p.permissions = std::make_shared<LinuxPermissions>(std::move(halves));

    // System (system):
    //   p.loginItem = std::make_shared<XdgLoginItem>(p.bundle->executablesPath() / "Zorvane",
    //                                                XdgLoginItem::defaultAutostartFolder());
    //   p.updater = LinuxUpdater::create(updaterOptions);
    //   p.applicationWindows = std::make_shared<QtApplicationWindows>();
    //   p.onboardingWindow = <the onboarding window controller>;
    //   openSettings_ = [](AppModel& model) { <show the settings window for the model> };
    p.loginItem = std::make_shared<InterimLoginItem>();
    p.updater = std::make_shared<InterimUpdater>();
    p.applicationWindows = std::make_shared<InterimApplicationWindows>();
    p.onboardingWindow = std::make_shared<InterimOnboardingWindow>();

    // Ours: the chat panel.
    chatPanel_ = std::make_shared<ui::QtChatPanelController>(p.screens, options.uiTest);
    p.chatPanel = chatPanel_;
}

LinuxPlatform::~LinuxPlatform() = default;

} // namespace zorvane
