#include "app/platform/linux/LinuxPlatform.h"

// Qt first: Xlib's macros (None, Bool, Status) would break Qt's headers.
#include "app/ui/ChatPanelController.h"
#include "app/ui/WaylandChatPanel.h"
#include "app/ui/DesktopTriggers.h"
#include "app/ui/QtApplicationWindows.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "app/ui/settings/SettingsView.h"
#include "app/ui/settings/UpdateDialogs.h"
#include <QApplication>
#include <QLocale>

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
#include "app/platform/linux/wayland/GnomeCustomShortcut.h"
#include "app/platform/linux/wayland/PortalGlobalShortcut.h"
#include "app/platform/linux/wayland/WaylandAdapters.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11OverlayPanels.h"
#include "app/platform/linux/x11/X11ScreenRecording.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"

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

// What the onboarding and settings tell a Wayland user: the shortcut in place of the shake, and
// how this desktop lets us capture.
void describeWaylandDesktop(wayland::Desktop desktop, const std::filesystem::path& program)
{
    using wayland::Desktop;
    ui::DesktopTriggers& t = ui::DesktopTriggers::shared();
    t.wayland = true;
    t.shakeUnavailable = QStringLiteral("En Wayland, este escritorio no deja a Zorvane seguir el puntero fuera de sus ventanas: "
                                        "usa el atajo de teclado.");
    t.captureNote = QStringLiteral("En Wayland, Zorvane captura el escritorio al empezar cada selección y recorta lo que eliges; "
                                   "la imagen no se guarda.");
    if (desktop == Desktop::gnome) {
        t.captureNote += QStringLiteral(" La primera vez, GNOME pregunta si Zorvane puede hacer capturas de pantalla: elige Permitir.");
        auto shortcut = std::make_shared<GnomeCustomShortcut>(program);
        if (GnomeCustomShortcut::isAvailable()) {
            t.customShortcut = [shortcut] { return shortcut->installed(); };
            t.addCustomShortcut = [shortcut] { return shortcut->install(); };
            t.removeCustomShortcut = [shortcut] { shortcut->remove(); };
        }
    } else if (desktop == Desktop::kde) {
        t.shortcutNote = QStringLiteral("Atajo de teclado: Ctrl+Alt+Espacio. Puedes cambiarlo en Preferencias del sistema › Atajos.");
    } else if (desktop == Desktop::wlroots) {
        t.shortcutNote = QStringLiteral("Para un atajo de teclado, añade esta línea a la configuración de sway y recárgala:\n"
                                        "bindsym Ctrl+Alt+space exec '%1' --select").arg(QString::fromStdString(program.string()));
    }
}

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
    p.speechLocale = speechLocale();

    // Screens, windows, capture, input, the overlay: the session's own, X11's or Wayland's.
    std::function<bool()> screenCaptureGranted = [] { return X11ScreenRecording::isGranted(); };
    std::shared_ptr<WaylandOverlayPanels> waylandOverlay;
    if (wayland::isWaylandSession()) {
        WaylandAdapters adapters = WaylandAdapters::create(p.clock);
        p.screens = adapters.screens;
        p.windowList = adapters.windowList;
        p.windowImages = adapters.windowImages;
        p.eventMonitors = adapters.eventMonitors;
        p.overlayPanels = waylandOverlay = adapters.overlayPanels;
        screenCaptureGranted = adapters.isCaptureAllowed;
        // Element lookups need each window's origin, which Wayland keeps from us: the core's area
        // around the pointer stands in.
        p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(RootCoordinates::identity());
        describeWaylandDesktop(adapters.desktop, p.bundle->executablesPath() / "Zorvane");
    } else {
        // Screens, windows, capture: each opens its own connection to the display.
        auto screens = requireDisplay(X11Screens::create());
        p.screens = screens;
        p.windowList = requireDisplay(X11WindowList::create());
        p.windowImages = requireDisplay(X11WindowImages::create());

        // Input, the overlay, the desktop around us.
        p.eventMonitors = X11EventMonitors::create(p.mainQueue, p.clock, screens);
        p.overlayPanels = std::make_shared<X11OverlayPanels>(p.eventMonitors, p.windowImages);

        // Other applications' interfaces.
        p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(rootCoordinatesFrom(screens));
    }
    // The frontmost application from the window manager: on Wayland, XWayland's (browsers often
    // run there), else none.
    p.workspace = std::make_shared<X11Workspace>();

    // Sound and speech.
    auto audio = std::make_shared<linux_platform::PulseAudioInput>();
    auto speech = std::make_shared<linux_platform::LinuxSpeechRecognizers>(
        linux_platform::SpeechRecognizerPlaces::standard(p.bundle->bundlePath()), p.workspace, *p.speechLocale);
    p.audioInput = audio;
    p.speechRecognizers = speech;

    // The four permissions, each from the adapter that knows it.
    auto accessibility = std::make_shared<AtspiAccessibilityStatus>();
    PermissionHalves halves;
    halves.isAccessibilityEnabled = [accessibility] { return accessibility->isEnabled(); };
    halves.enableAccessibility = [accessibility] { return accessibility->enable(); };
    halves.isScreenCaptureGranted = screenCaptureGranted;
    halves.microphoneStatus = [audio] { return linux_platform::MicrophoneAccess::status(*audio); };
    halves.speechRecognitionStatus = [speech] { return speech->authorizationStatus(); };
    p.permissions = std::make_shared<LinuxPermissions>(std::move(halves));

    // Start at login, updates, the launcher entry (rewritten at every start: the bundle may move).
    const auto program = p.bundle->executablesPath() / "Zorvane";
    auto loginItem = std::make_shared<linux_platform::XdgLoginItem>(program, linux_platform::XdgLoginItem::defaultAutostartFolder());
    try {
        loginItem->refreshIfEnabled(); // an enabled entry follows a bundle that has moved
    } catch (const std::system_error&) {
        // The old entry stays; the settings show the state the next time they read it.
    }
    p.loginItem = loginItem;
    linux_platform::LinuxUpdaterOptions updates;
    updates.bundle = p.bundle;
    updates.defaults = p.defaults;
    updates.mainQueue = p.mainQueue;
    updates.clock = p.clock;
    updates.quitApplication = [] { QApplication::quit(); };
    updates.userDriver = std::make_shared<ui::UpdateDialogs>();
    p.updater = linux_platform::LinuxUpdater::create(std::move(updates));
    try {
        linux_platform::LauncherEntry(program, p.bundle->resourcesPath() / "BrowserExtension" / "icons", linux_platform::LauncherEntry::defaultDataHome()).install();
    } catch (const std::exception&) {
        // Without the entry Zorvane still runs; it is only missing from the application menu.
    }

    // Our own windows: the onboarding, the settings (the menu's "Ajustes" shows them before
    // bringSettingsToFront raises them), and the adapter that raises them.
    auto onboarding = std::make_shared<ui::OnboardingWindowController>();
    p.onboardingWindow = onboarding;
    p.applicationWindows = std::make_shared<ui::QtApplicationWindows>();
    auto settings = std::make_shared<ui::SettingsWindowController>(onboarding);
    openSettings_ = [settings](AppModel& model) { settings->show(model); };

    // Ours: the chat panel.
    if (waylandOverlay) {
        // Wayland places no window where we ask: the panel opens inside the selection's frozen frame.
        std::weak_ptr<WaylandOverlayPanels> overlay = waylandOverlay;
        ui::WaylandChatPanelController::Backdrop backdrop;
        backdrop.claim = [overlay](const Rect& rect, std::function<void()> dismissed) -> QWidget* {
            auto o = overlay.lock();
            return o ? o->claimBackdrop(rect, std::move(dismissed)) : nullptr;
        };
        backdrop.release = [overlay] {
            if (auto o = overlay.lock()) o->releaseBackdrop();
        };
        p.chatPanel = std::make_shared<ui::WaylandChatPanelController>(p.screens, std::move(backdrop), options.uiTest);
    } else {
        chatPanel_ = std::make_shared<ui::QtChatPanelController>(p.screens, options.uiTest);
        p.chatPanel = chatPanel_;
    }
}

LinuxPlatform::~LinuxPlatform() = default;

void LinuxPlatform::startSelectionShortcut(std::function<void()> select)
{
    if (!wayland::isWaylandSession() || wayland::currentDesktop() != wayland::Desktop::kde || selectionShortcut_) return;
    selectionShortcut_ = std::make_unique<PortalGlobalShortcut>(std::move(select));
    selectionShortcut_->start();
}

} // namespace zorvane
