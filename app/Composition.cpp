#include "app/Composition.h"

// Qt first: Xlib's macros (None, Bool, Status) would break Qt's headers.
#include "app/ui/ChatPanelController.h"
#include "app/ui/QtApplicationWindows.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "app/ui/settings/SettingsView.h"
#include "app/ui/settings/UpdateDialogs.h"
#include <QApplication>
#include <QLocale>
#include <QtGui/qguiapplication_platform.h>

#include "app/core/SystemClock.h"
#include "app/platform/linux/LinuxBundle.h"
#include "app/platform/linux/LinuxPermissions.h"
#include "app/platform/linux/PlistPreferencesStore.h"
#include "app/platform/linux/atspi/AtspiAccessibilityStatus.h"
#include "app/platform/linux/atspi/X11RootCoordinates.h"
#include "app/platform/linux/audio/MicrophoneAccess.h"
#include "app/platform/linux/audio/PulseAudioInput.h"
#include "app/platform/linux/desktop/LauncherEntry.h"
#include "app/platform/linux/desktop/LinuxUpdater.h"
#include "app/platform/linux/desktop/X11Workspace.h"
#include "app/platform/linux/desktop/XdgLoginItem.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/platform/linux/x11/X11DisplayWatch.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11OverlayPanels.h"
#include "app/platform/linux/x11/X11ScreenRecording.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/platform/linux/x11/X11Support.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace zorvane {
namespace {

// Dictation follows the user's language; a session without one ("C") gets Spanish, the language of
// everything Zorvane shows.
std::string speechLocale()
{
    const QString name = QLocale::system().name();
    if (name == QLatin1String("C") || name == QLatin1String("POSIX") || name.isEmpty()) return "es_ES";
    return name.toStdString();
}

template <typename T>
std::shared_ptr<T> requireDisplay(std::unique_ptr<T> adapter)
{
    if (!adapter) throw std::runtime_error("No se puede abrir la pantalla X11 (DISPLAY).");
    return std::shared_ptr<T>(std::move(adapter));
}

} // namespace

std::optional<SessionKind> chooseSession()
{
    // Until there are Wayland adapters, a Wayland session is served through XWayland: Qt must then
    // draw on the same X server our adapters read.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || !x11::openDisplay()) return std::nullopt;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return SessionKind::x11;
}

std::unique_ptr<Composition> Composition::create(SessionKind session, CompositionOptions options)
{
    switch (session) {
    case SessionKind::x11: return createX11(std::move(options));
    }
    return nullptr;
}

Composition::~Composition() = default;

void Composition::refreshDesktopEntries() const
{
    if (refreshDesktopEntries_) refreshDesktopEntries_();
}

Composition::DisplayWatch Composition::watchDisplay(void (*reportLoss)())
{
    return watchDisplay_ ? watchDisplay_(reportLoss) : DisplayWatch {};
}

std::unique_ptr<Composition> Composition::createX11(CompositionOptions options)
{
    std::unique_ptr<Composition> composition(new Composition);
    AppPlatform& p = composition->platform_;
    p.mainQueue = options.mainQueue;
    p.clock = std::make_shared<SystemClock>();
    const auto bundle = std::make_shared<linux_platform::LinuxBundle>(linux_platform::LinuxBundle::forRunningExecutable());
    p.bundle = bundle;
    p.defaults = std::make_shared<UserDefaults>(std::make_shared<linux_platform::PlistPreferencesStore>(linux_platform::PlistPreferencesStore::defaultPath()));
    p.ownProcessID = static_cast<ProcessID>(::getpid());
    p.speechLocale = speechLocale();

    // Screens, windows, capture: each opens its own connection to the display.
    auto screens = requireDisplay(X11Screens::create());
    p.screens = screens;
    p.windowList = requireDisplay(X11WindowList::create());
    p.windowImages = requireDisplay(X11WindowImages::create());

    // Input, the overlay, the desktop around us.
    p.eventMonitors = X11EventMonitors::create(p.mainQueue, p.clock, screens);
    p.overlayPanels = std::make_shared<X11OverlayPanels>(p.windowImages);
    p.workspace = std::make_shared<X11Workspace>();

    // Other applications' interfaces.
    p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(rootCoordinatesFrom(screens));

    // Sound and speech.
    auto audio = std::make_shared<linux_platform::PulseAudioInput>();
    auto speechPlaces = linux_platform::SpeechRecognizerPlaces::standard(p.bundle->bundlePath());
    speechPlaces.voskLibrary = bundle->frameworksPath() / "libvosk.so"; // an installed copy keeps it in lib/zorvane
    auto speech = std::make_shared<linux_platform::LinuxSpeechRecognizers>(std::move(speechPlaces), p.workspace, *p.speechLocale);
    p.audioInput = audio;
    p.speechRecognizers = speech;

    // The four permissions, each from the adapter that knows it.
    auto accessibility = std::make_shared<AtspiAccessibilityStatus>();
    PermissionHalves halves;
    halves.isAccessibilityEnabled = [accessibility] { return accessibility->isEnabled(); };
    halves.enableAccessibility = [accessibility] { return accessibility->enable(); };
    // The session does not change while we run: asked once, not with a connection of its own each time.
    halves.isScreenCaptureGranted = [granted = X11ScreenRecording::isGranted()] { return granted; };
    halves.microphoneStatus = [audio] { return linux_platform::MicrophoneAccess::status(*audio); };
    halves.speechRecognitionStatus = [speech] { return speech->authorizationStatus(); };
    p.permissions = std::make_shared<LinuxPermissions>(std::move(halves));

    // Start at login and updates.
    const auto program = bundle->programPath();
    auto loginItem = std::make_shared<linux_platform::XdgLoginItem>(program, linux_platform::XdgLoginItem::defaultAutostartFolder());
    p.loginItem = loginItem;
    linux_platform::LinuxUpdaterOptions updates;
    updates.bundle = p.bundle;
    updates.defaults = p.defaults;
    updates.mainQueue = p.mainQueue;
    updates.clock = p.clock;
    updates.quitApplication = [] { QApplication::quit(); };
    updates.userDriver = std::make_shared<ui::UpdateDialogs>();
    p.updater = linux_platform::LinuxUpdater::create(std::move(updates));
    composition->refreshDesktopEntries_ = [loginItem, program, installed = bundle->isInstalled(),
                                              icons = p.bundle->resourcesPath() / "BrowserExtension" / "icons"] {
        try {
            loginItem->refreshIfEnabled(); // an enabled entry follows a bundle that has moved
        } catch (const std::system_error&) {
            // The old entry stays; the settings show the state the next time they read it.
        }
        if (installed) return; // the package brings the menu entry and the icons
        try {
            linux_platform::LauncherEntry(program, icons, linux_platform::LauncherEntry::defaultDataHome()).install();
        } catch (const std::exception&) {
            // Without the entry Zorvane still runs; it is only missing from the application menu.
        }
    };

    // Our own windows: the onboarding, the settings (the menu's "Ajustes" shows them before
    // bringSettingsToFront raises them), and the adapter that raises them.
    auto onboarding = std::make_shared<ui::OnboardingWindowController>();
    p.onboardingWindow = onboarding;
    p.applicationWindows = std::make_shared<ui::QtApplicationWindows>();
    auto settings = std::make_shared<ui::SettingsWindowController>(onboarding);
    composition->openSettings_ = [settings](AppModel& model) { settings->show(model); };

    // Ours: the chat panel.
    p.chatPanel = std::make_shared<ui::QtChatPanelController>(p.screens, options.uiTest);

    composition->watchDisplay_ = [](void (*reportLoss)()) -> DisplayWatch {
        x11::reportConnectionLoss(reportLoss);
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) x11::surviveConnectionLoss(x11->display());
        std::shared_ptr<X11DisplayWatch> watch = X11DisplayWatch::open();
        if (!watch) return {};
        return {watch->descriptor(), [watch] { return watch->isLost(); }};
    };
    return composition;
}

} // namespace zorvane
