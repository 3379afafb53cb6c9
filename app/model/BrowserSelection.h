#pragma once

#include "app/bridge/BrowserBridgeService.h"
#include "app/core/UUID.h"
#include "app/platform/Workspace.h"

#include <cstdint>
#include <map>
#include <optional>
#include <variant>

// Where a selection in a web page stands, as the model sees it. Every report of the bridge and
// every action of the user moves it by one transition of AppModel (see "browser selections" there).
namespace zorvane::BrowserSelection {

using HostID = BrowserBridgeService::HostID;

// A page the user was asked to pick in must show its picker this soon, or the screen overlay opens.
inline constexpr double activationDeadline = 1.5;
// Shown in the panel when the host of a picked element goes before its picture arrived.
inline constexpr const char* connectionLost = "Se perdió la conexión con el navegador.";

// Nothing runs in a page (the screen overlay may be running; that is the model's own).
struct Idle {};
// "activate" went to the host; the attempt numbers its deadline.
struct Requested {
    HostID host;
    std::uint64_t attempt;
};
// The page shows its picker: the user is choosing.
struct Picking {
    HostID host;
};
// An element was picked: its placeholder is shown and its picture awaited.
struct AwaitingCrop {
    HostID host;
    UUID id;
};

using State = std::variant<Idle, Requested, Picking, AwaitingCrop>;

// The host the selection is with; none when idle.
inline std::optional<HostID> hostOf(const State& state)
{
    return std::visit(
        [](const auto& s) -> std::optional<HostID> {
            if constexpr (requires { s.host; }) return s.host;
            else return std::nullopt;
        },
        state);
}

// Asked, or choosing: what the menu shows as a selection in progress.
inline bool isSelectingInPage(const State& state)
{
    return std::holds_alternative<Requested>(state) || std::holds_alternative<Picking>(state);
}

using Hosts = std::map<HostID, BrowserBridgeService::Host>; // connected, oldest first

// The host serving the browser in front: the one whose browser process owns the frontmost window
// (the newest, when profiles of one browser each have a host); when the window does not say its
// process, a host of the same browser. None when no connected browser is in front.
inline std::optional<HostID> hostInFront(const Hosts& hosts, Workspace& workspace)
{
    if (hosts.empty()) return std::nullopt;
    if (const auto frontmostPID = workspace.frontmostApplicationProcessID()) {
        for (auto it = hosts.rbegin(); it != hosts.rend(); ++it)
            if (it->second.browserProcessID == frontmostPID) return it->first;
        // Another process is in front: a browser behind it would pick where nobody looks.
        return std::nullopt;
    }
    const auto frontmost = workspace.frontmostApplicationIdentifier();
    if (!frontmost || !BrowserBridgeService::supportsBrowser(*frontmost)) return std::nullopt;
    for (auto it = hosts.rbegin(); it != hosts.rend(); ++it) {
        const auto pid = it->second.browserProcessID;
        if (pid && workspace.applicationIdentifierOfProcess(*pid) == frontmost) return it->first;
    }
    return std::nullopt;
}

} // namespace zorvane::BrowserSelection
