#pragma once

#include "app/model/AppModel.h"

#include <functional>
#include <memory>
#include <optional>

namespace zorvane {

class PortalGlobalShortcut;

// The kinds of session we have an adapter set for.
enum class SessionKind {
    x11,     // an X server, XWayland included
    wayland, // a Wayland compositor: its adapter set follows the desktop
};

// The adapter set for this session, chosen from its environment before the toolkit starts (it is
// told which platform to load). None when there is no display we can use.
std::optional<SessionKind> chooseSession();

struct CompositionOptions {
    bool uiTest = false; // "--ui-test": our windows appear in the task bar
    std::shared_ptr<MainQueue> mainQueue;
};

// The adapters of one session, built once after the QApplication exists: the only code besides
// main.cpp that sees the adapters, the model and the UI at once. Building only builds; what changes
// the desktop around us is a step of its own.
class Composition {
public:
    static std::unique_ptr<Composition> create(SessionKind session, CompositionOptions options);
    ~Composition();
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    // Everything the model needs.
    const AppPlatform& appPlatform() const { return platform_; }
    // Shows the settings window (the menu's "Ajustes" runs it before bringSettingsToFront).
    const std::function<void(AppModel&)>& openSettings() const { return openSettings_; }

    // Step: the launcher and autostart entries follow a bundle that moved, in the copy that owns them.
    void refreshDesktopEntries() const;
    // Step: from now on a lost display connection is reported (from any thread) instead of ending
    // the process where it was noticed; `displayLost` is a descriptor that becomes readable then,
    // and `isDisplayLost` says whether it has.
    struct DisplayWatch {
        int descriptor = -1;
        std::function<bool()> isLost;
    };
    DisplayWatch watchDisplay(void (*reportLoss)());
    // Step: the desktop's own global shortcut for the selection, where it has one to register (KDE
    // on Wayland): `select` runs when the user presses it.
    void startSelectionShortcut(std::function<void()> select);

private:
    Composition() = default;
    static std::unique_ptr<Composition> createForSession(SessionKind session, CompositionOptions options);

    AppPlatform platform_;
    std::function<void(AppModel&)> openSettings_;
    std::function<void()> refreshDesktopEntries_;
    std::function<DisplayWatch(void (*)())> watchDisplay_;
    std::function<void(std::function<void()>)> startSelectionShortcut_;
    std::unique_ptr<PortalGlobalShortcut> selectionShortcut_;
    std::shared_ptr<void> windowFeed_; // the compositor's window list, read while we run
};

} // namespace zorvane
