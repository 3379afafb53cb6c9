#pragma once

#include "app/bridge/BrowserBridgeService.h"
#include "app/core/UUID.h"

#include <cstdint>
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

} // namespace zorvane::BrowserSelection
