#include "app/Composition.h"

// Qt first: Xlib's macros (None, Bool, Status) would break Qt's headers.
#include "app/ui/ChatPanelController.h"
#include "app/ui/DesktopTriggers.h"
#include "app/ui/WaylandChatPanel.h"
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
#include "app/platform/linux/speech/LinuxSpeechModels.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/platform/linux/wayland/CompositorWorkspace.h"
#include "app/platform/linux/wayland/GnomeCustomShortcut.h"
#include "app/platform/linux/wayland/GnomeShellExtension.h"
#include "app/platform/linux/wayland/PortalGlobalShortcut.h"
#include "app/platform/linux/wayland/WaylandAdapters.h"
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

// What the onboarding and settings tell a Wayland user: the shortcut in place of the shake, and
// how this desktop lets us capture.
void describeWaylandDesktop(wayland::Desktop desktop, const std::filesystem::path& program, const std::filesystem::path& resources,
    bool windowsKnown)
{
    using wayland::Desktop;
    ui::DesktopTriggers& t = ui::DesktopTriggers::shared();
    if (desktop == Desktop::gnome && GnomeShellExtension::isAvailable()) {
        auto extension = std::make_shared<GnomeShellExtension>(resources / "gnome-shell" / GnomeShellExtension::uuid);
        extension->replaceIfOther(); // one installed by an older Zorvane
        t.helperInstalled = [extension] { return extension->installed(); };
        t.installHelper = [extension] { extension->install(); };
        t.removeHelper = [extension] { extension->remove(); };
        // Installed: it runs from the login after that, which we take this one to be.
        windowsKnown = windowsKnown && extension->installed();
    }
    t.wayland = true;
    t.shakeUnavailable = QStringLiteral("En Wayland, este escritorio no deja a Zorvane seguir el puntero fuera de sus ventanas: "
                                        "usa el atajo de teclado.");
    t.captureNote = QStringLiteral("En Wayland, Zorvane captura el escritorio al empezar cada selección y recorta lo que eliges; "
                                   "la imagen no se guarda.");
    // KWin's and GNOME Shell's helpers report the pointer: the shake works there as on X11.
    if ((desktop == Desktop::kde || desktop == Desktop::gnome) && windowsKnown) t.shakeUnavailable.clear();
    if (desktop == Desktop::wlroots && windowsKnown)
        t.shakeUnavailable = QStringLiteral("sway no le dice a ningún programa dónde está el puntero, así que no hay sacudida: usa el atajo de teclado.");
    if (!windowsKnown)
        t.captureNote += QStringLiteral(" Este escritorio no le dice a Zorvane dónde están las demás ventanas: un clic elige la zona alrededor "
                                        "del puntero en lugar del elemento (arrastra para elegir un rectángulo).")
            + (t.installHelper ? QStringLiteral(" Con la extensión de Zorvane para GNOME (Ajustes › General › Activación) reconocerá el "
                                                "elemento bajo el puntero y la sacudida.")
                               : QStringLiteral(" Con un ayudante del escritorio, Zorvane reconocería el elemento bajo el puntero y la sacudida."));
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

std::optional<SessionKind> chooseSession()
{
    // A user who asked Qt for X11 in a Wayland session gets the X11 adapters through XWayland.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool x11Chosen = platform && std::string_view(platform).starts_with("xcb");
    if (!x11Chosen && wayland::isWaylandSession() && wayland::canConnect()) {
        wayland::choosePlatformBeforeQt();
        return SessionKind::wayland;
    }
    // Qt must draw on the same X server our adapters read.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || !x11::openDisplay()) return std::nullopt;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return SessionKind::x11;
}

std::unique_ptr<Composition> Composition::create(SessionKind session, CompositionOptions options)
{
    switch (session) {
    case SessionKind::x11:
    case SessionKind::wayland: return createForSession(session, std::move(options));
    }
    return nullptr;
}

Composition::~Composition() = default;

void Composition::refreshDesktopEntries() const
{
    if (refreshDesktopEntries_) refreshDesktopEntries_();
}

void Composition::startSelectionShortcut(std::function<void()> select)
{
    if (startSelectionShortcut_ && !selectionShortcut_) startSelectionShortcut_(std::move(select));
}

Composition::DisplayWatch Composition::watchDisplay(void (*reportLoss)())
{
    return watchDisplay_ ? watchDisplay_(reportLoss) : DisplayWatch {};
}

std::unique_ptr<Composition> Composition::createForSession(SessionKind session, CompositionOptions options)
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

    // Screens, windows, capture, input, the overlay: the session's own, X11's or Wayland's.
    // The session does not change while we run: whether it lets us capture is asked once.
    std::function<bool()> screenCaptureGranted;
    std::shared_ptr<WaylandOverlayPanels> waylandOverlay;
    if (session == SessionKind::wayland) {
        WaylandAdapters adapters = WaylandAdapters::create(p.clock, p.bundle->resourcesPath());
        p.screens = adapters.screens;
        p.windowList = adapters.windowList;
        p.windowImages = adapters.windowImages;
        p.eventMonitors = adapters.eventMonitors;
        p.overlayPanels = waylandOverlay = adapters.overlayPanels;
        screenCaptureGranted = adapters.isCaptureAllowed;
        // Element lookups need each window's origin, which Wayland keeps from us unless a
        // compositor helper tells; without one the core's area around the pointer stands in.
        const auto& windows = adapters.compositorWindows;
        p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(windows ? windows->rootCoordinates(p.ownProcessID) : RootCoordinates::identity());
        composition->windowFeed_ = adapters.windowFeed;
        describeWaylandDesktop(adapters.desktop, bundle->programPath(), p.bundle->resourcesPath(), windows != nullptr);
        if (adapters.desktop == wayland::Desktop::kde) {
            composition->startSelectionShortcut_ = [composition = composition.get()](std::function<void()> select) {
                composition->selectionShortcut_ = std::make_unique<PortalGlobalShortcut>(std::move(select));
                composition->selectionShortcut_->start();
            };
        }
    } else {
        // Each opens its own connection to the display.
        auto screens = requireDisplay(X11Screens::create());
        p.screens = screens;
        p.windowList = requireDisplay(X11WindowList::create());
        p.windowImages = requireDisplay(X11WindowImages::create());
        p.eventMonitors = X11EventMonitors::create(p.mainQueue, p.clock, screens);
        p.overlayPanels = std::make_shared<X11OverlayPanels>(p.windowImages);
        p.accessibilityTree = std::make_shared<AtspiAccessibilityTree>(rootCoordinatesFrom(screens));
        screenCaptureGranted = [granted = X11ScreenRecording::isGranted()] { return granted; };
    }
    // The frontmost application from the window manager: on Wayland, the compositor helper's
    // active window, else XWayland's (browsers often run there), else none.
    p.workspace = std::make_shared<X11Workspace>();
    if (const auto windows = std::dynamic_pointer_cast<CompositorWindows>(p.windowList)) {
        p.workspace = std::make_shared<CompositorWorkspace>(windows, p.workspace, [own = p.ownProcessID](const std::string& appID, ProcessID pid) {
            if (pid == own) return std::optional<std::string>("com.quenvar.Zorvane");
            std::error_code error;
            const auto executable = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
            return X11Workspace::applicationIdentifier(appID, error ? std::string() : executable.string());
        });
    }

    // Sound and speech.
    auto audio = std::make_shared<linux_platform::PulseAudioInput>();
    auto speechPlaces = linux_platform::SpeechRecognizerPlaces::standard(p.bundle->bundlePath());
    speechPlaces.voskLibrary = bundle->frameworksPath() / "libvosk.so"; // an installed copy keeps it in lib/zorvane
    auto speech = std::make_shared<linux_platform::LinuxSpeechRecognizers>(speechPlaces, p.workspace, *p.speechLocale);
    auto speechModels = linux_platform::LinuxSpeechModels::create({.modelsFolder = speechPlaces.modelsFolder,
        .language = linux_platform::LinuxSpeechRecognizers::language(*p.speechLocale), .recognizers = speech, .mainQueue = p.mainQueue});
    // Allowing speech recognition means getting the language's model.
    speech->setModelInstaller([weak = std::weak_ptr(speechModels)] {
        const auto models = weak.lock();
        return models && models->installIfOffered();
    });
    p.audioInput = audio;
    p.speechRecognizers = speech;
    p.speechModels = speechModels;

    // The four permissions, each from the adapter that knows it.
    auto accessibility = std::make_shared<AtspiAccessibilityStatus>();
    PermissionHalves halves;
    halves.isAccessibilityEnabled = [accessibility] { return accessibility->isEnabled(); };
    halves.enableAccessibility = [accessibility] { return accessibility->enable(); };
    halves.isScreenCaptureGranted = screenCaptureGranted;
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
    composition->refreshDesktopEntries_ = [loginItem, program, icons = p.bundle->resourcesPath() / "BrowserExtension" / "icons"] {
        linux_platform::refreshDesktopEntries(
            *loginItem, linux_platform::LauncherEntry(program, icons, linux_platform::LauncherEntry::defaultDataHome()));
    };

    // Our own windows: the onboarding, the settings (the menu's "Ajustes" shows them before
    // bringSettingsToFront raises them), and the adapter that raises them.
    auto onboarding = std::make_shared<ui::OnboardingWindowController>();
    p.onboardingWindow = onboarding;
    p.applicationWindows = std::make_shared<ui::QtApplicationWindows>();
    auto settings = std::make_shared<ui::SettingsWindowController>(onboarding);
    composition->openSettings_ = [settings](AppModel& model) { settings->show(model); };

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
        return composition;
    }
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
